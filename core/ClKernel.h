#pragma once

#include "core/ClEvent.h"
#include "core/ClHandle.h"

#include <array>
#include <memory>
#include <string>

namespace Veltrane {

class ClEnvironment;
class ClImage;
class ClProgram;

/// One kernel of a built program, run on its environment's queue. The
/// program must outlive the work-group queries. Argument setters return the
/// code of clSetKernelArg; arguments stay set between runs.
class ClKernel {
public:
    /// Throws std::runtime_error "Couldn't create OpenCL kernel" (after
    /// logging the code) when the program has no such kernel or is not built.
    ClKernel(const ClProgram* program, const std::string& name,
             ClEnvironment* environment = nullptr);

    bool isValid() const { return m_handle.get() != nullptr; }
    cl_kernel id() const { return m_handle.get(); }

    /// A work-group value of the kernel on its program's device; 0 when the
    /// query fails.
    std::size_t workGroupInfo(cl_kernel_work_group_info param, int* error = nullptr) const;
    /// The largest work-group this kernel runs with; 0 when unknown.
    std::size_t maxWorkGroupSize() const;

    /// Local sizes for `dims` dimensions (1 to 3) and a work-group limit:
    /// (wg) in 1-D; (16, wg/16), (wg/16, 16) or (wg/32, 32) in 2-D for limits
    /// up to 256, up to 1024 and above; (8, 8, wg/64) or (16, 16, wg/256) in
    /// 3-D up to 1024 and above. A limit too small for that shape gives
    /// (wg, 1, 1). Unused dimensions are 1.
    static std::array<std::size_t, 3> localSizesFor(int dims, std::size_t workGroupSize);

    /// Chooses the local sizes for this kernel and rounds each of the `dims`
    /// requested `sizes` up to a multiple of its local size, in place. The
    /// local sizes go to `localSizes` when given; both are kept for `run`.
    /// False (and `run` refused by OpenCL) for `dims` outside 1 to 3 or an
    /// unknown work-group limit.
    bool setWorkSize(int dims, std::size_t* sizes, std::size_t* localSizes = nullptr);

    /// Enqueues the kernel with explicit sizes; returns the OpenCL code.
    cl_int enqueue(int dims, const std::size_t* globalSizes, const std::size_t* localSizes,
                   const ClEventList* waitList = nullptr,
                   std::unique_ptr<ClEvent>* event = nullptr);
    /// Enqueues the kernel with the sizes of the last `setWorkSize`.
    cl_int run(const ClEventList* waitList = nullptr, std::unique_ptr<ClEvent>* event = nullptr);

    /// A one-byte flag (kernel type char or uchar).
    cl_int setArgByte(cl_uint index, unsigned char value);
    cl_int setArgScalar(cl_uint index, int value);
    cl_int setArgScalar(cl_uint index, unsigned value);
    cl_int setArgScalar(cl_uint index, float value);
    /// `count` 4-byte values passed by value (a vector or small struct).
    template <typename T>
    cl_int setArgArray(cl_uint index, const T* values, std::size_t count)
    {
        static_assert(sizeof(T) == 4, "kernel array arguments hold 4-byte values");
        return setArgBytes(index, values, sizeof(T) * count);
    }
    /// An int4 (or int3) with w = 0.
    cl_int setArgInt3(cl_uint index, int x, int y, int z);
    /// A float4 (or float3) with w = 0.
    cl_int setArgFloat3(cl_uint index, float x, float y, float z);
    cl_int setArgFloat4(cl_uint index, float x, float y, float z, float w);
    /// The memory object of `image` (null for none).
    cl_int setArgImage(cl_uint index, const ClImage* image);
    /// `bytes` of local memory.
    cl_int setArgLocal(cl_uint index, std::size_t bytes);

private:
    cl_int setArgBytes(cl_uint index, const void* value, std::size_t size);

    ClEnvironment* m_environment;
    const ClProgram* m_program;
    int m_dims = 0;
    std::array<std::size_t, 3> m_globalSizes{};
    std::array<std::size_t, 3> m_localSizes{};
    ClHandle<cl_kernel, clReleaseKernel> m_handle;
};

}  // namespace Veltrane
