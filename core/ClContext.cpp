#include "core/ClContext.h"

#include "core/ClDevice.h"
#include "core/ClPlatform.h"
#include "core/ClQuery.h"
#include "core/Logging.h"

#include <CL/cl_gl.h>
#include <GL/glx.h>

namespace Veltrane {

namespace {

/// The property list of a new context: the current GLX context and display
/// when sharing with OpenGL, then the platform, then the terminating 0.
std::vector<cl_context_properties> contextProperties(const ClPlatform* platform, bool glSharing)
{
    std::vector<cl_context_properties> properties;
    if (glSharing) {
        properties.push_back(CL_GL_CONTEXT_KHR);
        properties.push_back(reinterpret_cast<cl_context_properties>(glXGetCurrentContext()));
        properties.push_back(CL_GLX_DISPLAY_KHR);
        properties.push_back(reinterpret_cast<cl_context_properties>(glXGetCurrentDisplay()));
    }
    properties.push_back(CL_CONTEXT_PLATFORM);
    properties.push_back(
        reinterpret_cast<cl_context_properties>(platform ? platform->id() : nullptr));
    properties.push_back(0);
    return properties;
}

void logCreation(cl_int code)
{
    if (code != CL_SUCCESS)
        VELTRANE_ERROR("Couldn't create context" << ClCode{code});
}

}  // namespace

ClContext::ClContext(const ClPlatform* platform, const std::vector<const ClDevice*>& devices,
                     bool glSharing, ClErrorCallback callback, void* userData)
{
    const std::vector<cl_context_properties> properties = contextProperties(platform, glSharing);
    std::vector<cl_device_id> ids;
    for (const ClDevice* device : devices)
        ids.push_back(device ? device->id() : nullptr);
    cl_int code = CL_SUCCESS;
    m_handle.reset(clCreateContext(properties.data(), static_cast<cl_uint>(ids.size()),
                                   ids.data(), callback, userData, &code));
    logCreation(code);
}

std::unique_ptr<ClContext> ClContext::fromDeviceType(const ClPlatform* platform,
                                                     cl_device_type deviceType, bool glSharing,
                                                     ClErrorCallback callback, void* userData)
{
    const std::vector<cl_context_properties> properties = contextProperties(platform, glSharing);
    std::unique_ptr<ClContext> context(new ClContext());
    cl_int code = CL_SUCCESS;
    context->m_handle.reset(
        clCreateContextFromType(properties.data(), deviceType, callback, userData, &code));
    logCreation(code);
    return context;
}

std::vector<cl_device_id> ClContext::infoBytes(int* error) const
{
    return clInfoList<cl_device_id>(clInfoBytes(
        [&](std::size_t size, void* value, std::size_t* sizeReturned) {
            return clGetContextInfo(m_handle.get(), CL_CONTEXT_DEVICES, size, value,
                                    sizeReturned);
        },
        error));
}

std::vector<std::unique_ptr<ClDevice>> ClContext::devices() const
{
    std::vector<std::unique_ptr<ClDevice>> result;
    for (cl_device_id id : infoBytes()) {
        if (id)
            result.push_back(std::make_unique<ClDevice>(id));
    }
    return result;
}

}  // namespace Veltrane
