#pragma once

#include "core/ClHandle.h"

#include <memory>
#include <vector>

namespace Veltrane {

class ClDevice;
class ClPlatform;

/// Receives the errors that OpenCL reports asynchronously for a context.
using ClErrorCallback = void(CL_CALLBACK*)(const char* message, const void* privateInfo,
                                           std::size_t privateInfoSize, void* userData);

/// An OpenCL context on one platform. Creation failures are logged and leave
/// the context invalid; the constructors never throw.
class ClContext {
public:
    /// A context for exactly `devices` of `platform`. With `glSharing` the
    /// calling thread's current OpenGL (GLX) context is shared with OpenCL.
    ClContext(const ClPlatform* platform, const std::vector<const ClDevice*>& devices, bool glSharing,
              ClErrorCallback callback = nullptr, void* userData = nullptr);

    /// A context for every device of `deviceType` on `platform`.
    static std::unique_ptr<ClContext> fromDeviceType(const ClPlatform* platform,
                                                     cl_device_type deviceType, bool glSharing,
                                                     ClErrorCallback callback = nullptr,
                                                     void* userData = nullptr);

    bool isValid() const { return m_handle.get() != nullptr; }
    cl_context id() const { return m_handle.get(); }

    /// The context's devices; empty when the query fails.
    std::vector<std::unique_ptr<ClDevice>> devices() const;
    /// The raw device-handle list of the context.
    std::vector<cl_device_id> infoBytes(int* error = nullptr) const;

private:
    ClContext() = default;

    ClHandle<cl_context, clReleaseContext> m_handle;
};

}  // namespace Veltrane
