#pragma once

#include "core/ClEvent.h"
#include "core/ClHandle.h"

#include <memory>

namespace Veltrane {

class ClContext;
class ClDevice;
class ClKernel;

/// An OpenCL command queue of one device. A queue that cannot be created is
/// logged and stays invalid; the constructor never throws.
class ClCommandQueue {
public:
    ClCommandQueue(const ClContext* context, const ClDevice* device, bool profiling,
                   bool outOfOrder);

    bool isValid() const { return m_handle.get() != nullptr; }
    cl_command_queue id() const { return m_handle.get(); }

    /// Enqueues `kernel` over `dims` dimensions (1 to 3) with the given global
    /// and local sizes (arrays of at least `dims` values), without offset,
    /// after the events of `waitList`. When `event` is given it receives the
    /// completion event, which holds no handle when the enqueue failed.
    /// Returns the OpenCL code (CL_SUCCESS, or logged when it failed).
    cl_int enqueueKernel(const ClKernel* kernel, int dims, const std::size_t* globalSizes,
                         const std::size_t* localSizes, const ClEventList* waitList = nullptr,
                         std::unique_ptr<ClEvent>* event = nullptr);

private:
    ClHandle<cl_command_queue, clReleaseCommandQueue> m_handle;
};

}  // namespace Veltrane
