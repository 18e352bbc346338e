#pragma once

#include <CL/cl.h>

#include <memory>
#include <vector>

namespace Veltrane {

class ClDevice;

/// One OpenCL platform (an installed driver). Platforms are never released.
class ClPlatform {
public:
    explicit ClPlatform(cl_platform_id id) : m_id(id) {}
    ClPlatform(const ClPlatform&) = delete;
    ClPlatform& operator=(const ClPlatform&) = delete;

    /// Every platform the OpenCL loader reports; empty (with an ERROR line)
    /// when the query fails.
    static std::vector<std::unique_ptr<ClPlatform>> platforms();

    /// The platform's devices of `deviceType` (a CL_DEVICE_TYPE_* bit set).
    /// Empty, with an ERROR line, when the query fails, which OpenCL also
    /// reports when the platform has no device of that type.
    std::vector<std::unique_ptr<ClDevice>> devices(cl_device_type deviceType) const;

    cl_platform_id id() const { return m_id; }

private:
    cl_platform_id m_id;
};

}  // namespace Veltrane
