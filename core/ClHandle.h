#pragma once

#include <CL/cl.h>

#include <ostream>

namespace Veltrane {

/// Owns one reference-counted OpenCL handle and releases it with `Release`
/// when destroyed or reset. A zero handle is never released.
template <typename Handle, cl_int(CL_API_CALL* Release)(Handle)>
class ClHandle {
public:
    ClHandle() = default;
    explicit ClHandle(Handle handle) : m_handle(handle) {}
    ClHandle(const ClHandle&) = delete;
    ClHandle& operator=(const ClHandle&) = delete;
    ~ClHandle() { reset(); }

    Handle get() const { return m_handle; }

    /// Releases the current handle and takes `handle` in its place.
    void reset(Handle handle = nullptr)
    {
        if (m_handle)
            Release(m_handle);
        m_handle = handle;
    }

private:
    Handle m_handle = nullptr;
};

/// Formats an OpenCL error code for the layer's log lines: " (code)".
struct ClCode {
    cl_int code;
};

inline std::ostream& operator<<(std::ostream& stream, ClCode c)
{
    return stream << " (" << c.code << ")";
}

}  // namespace Veltrane
