#include "core/ClCommandQueue.h"

#include "core/ClContext.h"
#include "core/ClDevice.h"
#include "core/ClKernel.h"
#include "core/Logging.h"

namespace Veltrane {

ClCommandQueue::ClCommandQueue(const ClContext* context, const ClDevice* device, bool profiling,
                               bool outOfOrder)
{
    cl_command_queue_properties properties = 0;
    if (profiling)
        properties |= CL_QUEUE_PROFILING_ENABLE;
    if (outOfOrder)
        properties |= CL_QUEUE_OUT_OF_ORDER_EXEC_MODE_ENABLE;
    cl_int code = CL_SUCCESS;
    m_handle.reset(clCreateCommandQueue(context ? context->id() : nullptr,
                                        device ? device->id() : nullptr, properties, &code));
    if (code != CL_SUCCESS)
        VELTRANE_ERROR("Couldn't create OpenCL command queue" << ClCode{code});
}

cl_int ClCommandQueue::enqueueKernel(const ClKernel* kernel, int dims,
                                     const std::size_t* globalSizes,
                                     const std::size_t* localSizes,
                                     const ClEventList* waitList,
                                     std::unique_ptr<ClEvent>* event)
{
    const std::vector<cl_event> waitHandles = clEventHandles(waitList);
    cl_event completion = nullptr;
    cl_int code = CL_INVALID_KERNEL;
    // Some drivers crash on a missing kernel instead of refusing it.
    if (kernel && kernel->id()) {
        code = clEnqueueNDRangeKernel(m_handle.get(), kernel->id(), static_cast<cl_uint>(dims),
                                      nullptr, globalSizes, localSizes,
                                      static_cast<cl_uint>(waitHandles.size()),
                                      waitHandles.empty() ? nullptr : waitHandles.data(),
                                      event ? &completion : nullptr);
    }
    if (code != CL_SUCCESS) {
        VELTRANE_ERROR("Couldn't enqueue kernel" << ClCode{code});
        completion = nullptr;
    }
    if (event)
        *event = std::make_unique<ClEvent>(completion);
    return code;
}

}  // namespace Veltrane
