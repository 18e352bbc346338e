#include "core/ClDevice.h"

#include "core/ClQuery.h"

namespace Veltrane {

std::vector<unsigned char> ClDevice::infoBytes(cl_device_info param, int* error) const
{
    return clInfoBytes(
        [&](std::size_t size, void* value, std::size_t* sizeReturned) {
            return clGetDeviceInfo(m_id, param, size, value, sizeReturned);
        },
        error);
}

std::vector<std::size_t> ClDevice::infoSizes(cl_device_info param, int* error) const
{
    return clInfoList<std::size_t>(infoBytes(param, error));
}

std::string ClDevice::infoText(cl_device_info param) const
{
    return clInfoText(infoBytes(param));
}

template <typename T>
T ClDevice::infoScalar(cl_device_info param) const
{
    return clInfoScalar<T>(infoBytes(param));
}

std::string ClDevice::name() const { return infoText(CL_DEVICE_NAME); }
std::string ClDevice::vendor() const { return infoText(CL_DEVICE_VENDOR); }
std::string ClDevice::extensions() const { return infoText(CL_DEVICE_EXTENSIONS); }

std::uint32_t ClDevice::maxComputeUnits() const
{
    return infoScalar<std::uint32_t>(CL_DEVICE_MAX_COMPUTE_UNITS);
}

std::size_t ClDevice::maxWorkGroupSize() const
{
    return infoScalar<std::size_t>(CL_DEVICE_MAX_WORK_GROUP_SIZE);
}

std::vector<std::size_t> ClDevice::maxWorkItemSizes() const
{
    return infoSizes(CL_DEVICE_MAX_WORK_ITEM_SIZES);
}

std::uint64_t ClDevice::globalMemSize() const
{
    return infoScalar<std::uint64_t>(CL_DEVICE_GLOBAL_MEM_SIZE);
}

std::uint64_t ClDevice::localMemSize() const
{
    return infoScalar<std::uint64_t>(CL_DEVICE_LOCAL_MEM_SIZE);
}

std::uint64_t ClDevice::maxConstantBufferSize() const
{
    return infoScalar<std::uint64_t>(CL_DEVICE_MAX_CONSTANT_BUFFER_SIZE);
}

std::uint32_t ClDevice::maxConstantArgs() const
{
    return infoScalar<std::uint32_t>(CL_DEVICE_MAX_CONSTANT_ARGS);
}

bool ClDevice::imageSupport() const
{
    return infoScalar<cl_bool>(CL_DEVICE_IMAGE_SUPPORT) != CL_FALSE;
}

}  // namespace Veltrane
