#include "core/ClPlatform.h"

#include "core/ClDevice.h"
#include "core/ClHandle.h"
#include "core/Logging.h"

namespace Veltrane {

std::vector<std::unique_ptr<ClPlatform>> ClPlatform::platforms()
{
    std::vector<std::unique_ptr<ClPlatform>> result;
    cl_uint count = 0;
    cl_int code = clGetPlatformIDs(0, nullptr, &count);
    if (code != CL_SUCCESS) {
        VELTRANE_ERROR("clGetPlatformIDs failed" << ClCode{code});
        return result;
    }
    if (count == 0)
        return result;
    std::vector<cl_platform_id> ids(count);
    code = clGetPlatformIDs(count, ids.data(), nullptr);
    if (code != CL_SUCCESS) {
        VELTRANE_ERROR("clGetPlatformIDs failed" << ClCode{code});
        return result;
    }
    for (cl_platform_id id : ids) {
        if (id)
            result.push_back(std::make_unique<ClPlatform>(id));
    }
    return result;
}

std::vector<std::unique_ptr<ClDevice>> ClPlatform::devices(cl_device_type deviceType) const
{
    std::vector<std::unique_ptr<ClDevice>> result;
    cl_uint count = 0;
    cl_int code = clGetDeviceIDs(m_id, deviceType, 0, nullptr, &count);
    if (code != CL_SUCCESS) {
        VELTRANE_ERROR("clGetDeviceIDs failed" << ClCode{code});
        return result;
    }
    if (count == 0)
        return result;
    std::vector<cl_device_id> ids(count);
    code = clGetDeviceIDs(m_id, deviceType, count, ids.data(), nullptr);
    if (code != CL_SUCCESS) {
        VELTRANE_ERROR("clGetDeviceIDs failed" << ClCode{code});
        return result;
    }
    for (cl_device_id id : ids) {
        if (id)
            result.push_back(std::make_unique<ClDevice>(id));
    }
    return result;
}

}  // namespace Veltrane
