#include "core/ClEnvironment.h"

#include "core/ClPlatform.h"
#include "core/Logging.h"

#include <stdexcept>

namespace Veltrane {

namespace {

const char* const contextError = "Couldn't create OpenCL context";

}  // namespace

ClEnvironment::ClEnvironment(const ClPlatform* platform, const ClDevice* device, bool glSharing,
                             bool profiling, ClContext* existingContext,
                             ClErrorCallback callback, void* userData)
{
    if (!init(platform, device, CL_DEVICE_TYPE_ALL, glSharing, profiling, existingContext,
              callback, userData)) {
        // A context the caller handed over stays the caller's when we fail.
        if (m_context.get() == existingContext)
            m_context.release();
        throw std::runtime_error(contextError);
    }
}

ClEnvironment::~ClEnvironment() = default;

ClEnvironment* ClEnvironment::defaultEnvironment()
{
    static std::unique_ptr<ClEnvironment> instance;
    if (!instance) {
        std::unique_ptr<ClEnvironment> environment(new ClEnvironment());
        if (!environment->init(nullptr, nullptr, CL_DEVICE_TYPE_DEFAULT, false, false, nullptr,
                               nullptr, nullptr))
            throw std::runtime_error(contextError);
        instance = std::move(environment);
    }
    return instance.get();
}

bool ClEnvironment::init(const ClPlatform* platform, const ClDevice* device,
                         cl_device_type deviceType, bool glSharing, bool profiling,
                         ClContext* existingContext, ClErrorCallback callback, void* userData)
{
    if (existingContext && existingContext->isValid()) {
        m_context.reset(existingContext);
    } else if (platform && device) {
        auto context = std::make_unique<ClContext>(
            platform, std::vector<const ClDevice*>{device}, glSharing, callback,
            userData);
        if (context->isValid())
            m_context = std::move(context);
    } else {
        const std::vector<std::unique_ptr<ClPlatform>> platforms = ClPlatform::platforms();
        if (platforms.empty()) {
            VELTRANE_ERROR("No OpenCL platforms found");
            return false;
        }
        for (const auto& candidate : platforms) {
            auto context = ClContext::fromDeviceType(candidate.get(), deviceType, glSharing,
                                                     callback, userData);
            if (context->isValid()) {
                m_context = std::move(context);
                break;
            }
        }
    }
    if (!m_context) {
        VELTRANE_ERROR(contextError);
        return false;
    }

    std::vector<std::unique_ptr<ClDevice>> devices = m_context->devices();
    if (devices.empty()) {
        VELTRANE_ERROR("Didn't find any OpenCL devices");
        return false;
    }
    m_device = std::move(devices.front());

    m_queue = std::make_unique<ClCommandQueue>(m_context.get(), m_device.get(), profiling, false);
    if (!m_queue->isValid()) {
        VELTRANE_ERROR("Couldn't create command queue");
        return false;
    }
    return true;
}

void ClEnvironment::enqueueWaitForEvent(const ClEvent* event)
{
    const cl_event handle = event ? event->id() : nullptr;
    clEnqueueWaitForEvents(m_queue->id(), 1, &handle);
}

}  // namespace Veltrane
