#pragma once

#include "core/ClCommandQueue.h"
#include "core/ClContext.h"
#include "core/ClDevice.h"

#include <memory>

namespace Veltrane {

class ClPlatform;

/// The context, device and in-order command queue that every OpenCL object
/// of the system is created on. Objects created on an environment do not
/// own it; it must outlive them. A null environment stands for
/// `defaultEnvironment()`.
class ClEnvironment {
public:
    /// Sets up an environment:
    /// - with a valid `existingContext`: adopts it (it is deleted with the
    ///   environment; an invalid one, or any when construction fails, stays
    ///   the caller's);
    /// - else with both `platform` and `device`: a context for that device;
    /// - else: the first platform that offers a context for any device.
    /// The environment's device is the context's first device, its queue an
    /// in-order queue on it. The caller keeps `platform` and `device`.
    /// Throws std::runtime_error "Couldn't create OpenCL context" when any
    /// step fails (the step is logged).
    ClEnvironment(const ClPlatform* platform, const ClDevice* device, bool glSharing = false,
                  bool profiling = false, ClContext* existingContext = nullptr,
                  ClErrorCallback callback = nullptr, void* userData = nullptr);
    ClEnvironment(const ClEnvironment&) = delete;
    ClEnvironment& operator=(const ClEnvironment&) = delete;
    ~ClEnvironment();

    /// The process-wide environment on the first platform that has a device
    /// of the default type, created on first use. Throws std::runtime_error
    /// "Couldn't create OpenCL context" when it cannot be created; the next
    /// call then tries again. Not synchronised: the first use must not race
    /// with another.
    static ClEnvironment* defaultEnvironment();

    ClContext* context() const { return m_context.get(); }
    ClDevice* device() const { return m_device.get(); }
    ClCommandQueue* queue() const { return m_queue.get(); }

    /// Makes the queue wait for `event` before running later commands.
    void enqueueWaitForEvent(const ClEvent* event);

private:
    ClEnvironment() = default;

    bool init(const ClPlatform* platform, const ClDevice* device, cl_device_type deviceType,
              bool glSharing, bool profiling, ClContext* existingContext,
              ClErrorCallback callback, void* userData);

    // Destroyed in the order queue, device, context.
    std::unique_ptr<ClContext> m_context;
    std::unique_ptr<ClDevice> m_device;
    std::unique_ptr<ClCommandQueue> m_queue;
};

}  // namespace Veltrane
