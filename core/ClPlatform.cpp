#include "core/ClPlatform.h"

#include "core/ClDevice.h"
#include "core/ClHandle.h"
#include "core/Logging.h"

namespace Veltrane {

namespace {

/// Wraps every non-zero handle that `query(count, ids, countReturned)`
/// lists (a count query first, then the handles). On failure logs
/// `call` " failed (code)" and gives an empty list.
template <typename Wrapper, typename Id, typename Query>
std::vector<std::unique_ptr<Wrapper>> enumerate(Query query, const char* call)
{
    std::vector<std::unique_ptr<Wrapper>> result;
    cl_uint count = 0;
    cl_int code = query(0, nullptr, &count);
    std::vector<Id> ids;
    if (code == CL_SUCCESS && count > 0) {
        ids.resize(count);
        code = query(count, ids.data(), nullptr);
    }
    if (code != CL_SUCCESS) {
        VELTRANE_ERROR(call << " failed" << ClCode{code});
        return result;
    }
    for (Id id : ids) {
        if (id)
            result.push_back(std::make_unique<Wrapper>(id));
    }
    return result;
}

}  // namespace

std::vector<std::unique_ptr<ClPlatform>> ClPlatform::platforms()
{
    return enumerate<ClPlatform, cl_platform_id>(
        [](cl_uint count, cl_platform_id* ids, cl_uint* countReturned) {
            return clGetPlatformIDs(count, ids, countReturned);
        },
        "clGetPlatformIDs");
}

std::vector<std::unique_ptr<ClDevice>> ClPlatform::devices(cl_device_type deviceType) const
{
    return enumerate<ClDevice, cl_device_id>(
        [&](cl_uint count, cl_device_id* ids, cl_uint* countReturned) {
            return clGetDeviceIDs(m_id, deviceType, count, ids, countReturned);
        },
        "clGetDeviceIDs");
}

}  // namespace Veltrane
