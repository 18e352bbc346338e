#pragma once

#include <CL/cl.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Veltrane {

/// One OpenCL device and its facts. Devices are never released. Every query
/// gives 0, false or an empty value when OpenCL refuses it.
class ClDevice {
public:
    explicit ClDevice(cl_device_id id) : m_id(id) {}
    ClDevice(const ClDevice&) = delete;
    ClDevice& operator=(const ClDevice&) = delete;

    cl_device_id id() const { return m_id; }

    std::string name() const;
    std::string vendor() const;
    /// Space-separated extension names.
    std::string extensions() const;
    std::uint32_t maxComputeUnits() const;
    std::size_t maxWorkGroupSize() const;
    /// One size per work dimension.
    std::vector<std::size_t> maxWorkItemSizes() const;
    /// Bytes.
    std::uint64_t globalMemSize() const;
    std::uint64_t localMemSize() const;
    std::uint64_t maxConstantBufferSize() const;
    std::uint32_t maxConstantArgs() const;
    bool imageSupport() const;

    /// The raw value of `param`; empty on failure, with the OpenCL code in
    /// `error` when given.
    std::vector<unsigned char> infoBytes(cl_device_info param, int* error = nullptr) const;
    /// The raw value of `param` as a list of size_t words.
    std::vector<std::size_t> infoSizes(cl_device_info param, int* error = nullptr) const;

private:
    std::string infoText(cl_device_info param) const;
    template <typename T>
    T infoScalar(cl_device_info param) const;

    cl_device_id m_id;
};

}  // namespace Veltrane
