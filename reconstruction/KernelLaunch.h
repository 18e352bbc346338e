#pragma once

#include "core/ClHandle.h"

#include <cstddef>

namespace Veltrane {

class ClImage;
class ClKernel;

/// One start of an OpenCL kernel: sets its arguments in order, from index 0,
/// and enqueues it. The first call that OpenCL refuses, an argument or the
/// launch itself, is logged at error level with the failure message; a
/// message ending in "(" is followed by the OpenCL code and ")". After a
/// refused argument nothing is enqueued.
///
///     KernelLaunch(kernel, "Couldn't execute integrate kernel (").image(volume).scalar(2.0f).run();
class KernelLaunch {
public:
    KernelLaunch(ClKernel& kernel, const char* failureMessage);

    KernelLaunch& image(const ClImage* image);
    KernelLaunch& scalar(int value);
    KernelLaunch& scalar(float value);
    /// A one-byte argument (kernel type char or uchar).
    KernelLaunch& byte(unsigned char value);
    /// An int3 or float3 sent as four values with w = 0.
    KernelLaunch& int3(int x, int y, int z);
    KernelLaunch& float3(float x, float y, float z);
    KernelLaunch& float4(float x, float y, float z, float w);
    /// Four 4-byte values passed by value (an int4 or float4 held in an array).
    KernelLaunch& vector4(const int* values);
    KernelLaunch& vector4(const float* values);

    /// Enqueues with the work size stored in the kernel; true when the launch
    /// and every argument were accepted.
    bool run();
    /// Enqueues with explicit sizes of `dims` dimensions.
    bool enqueue(int dims, const std::size_t* globalSizes, const std::size_t* localSizes);

private:
    KernelLaunch& next(cl_int code);
    bool finish(cl_int code);

    ClKernel& m_kernel;
    const char* m_failureMessage;
    cl_uint m_index = 0;
    cl_int m_error = CL_SUCCESS;
};

}  // namespace Veltrane
