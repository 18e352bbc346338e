#include "testsupport/ClTestSupport.h"

#include "core/ClDevice.h"
#include "core/ClPlatform.h"

namespace Veltrane {

ClEnvironment* testEnvironment()
{
    static const std::unique_ptr<ClEnvironment> environment = []() -> std::unique_ptr<ClEnvironment> {
        const auto platforms = ClPlatform::platforms();
        if (platforms.empty())
            return nullptr;
        const auto devices = platforms.front()->devices(CL_DEVICE_TYPE_ALL);
        if (devices.empty())
            return nullptr;
        return std::make_unique<ClEnvironment>(platforms.front().get(), devices.front().get());
    }();
    return environment.get();
}

cl_uint contextReferences(cl_context context)
{
    cl_uint count = 0;
    clGetContextInfo(context, CL_CONTEXT_REFERENCE_COUNT, sizeof count, &count, nullptr);
    return count;
}

cl_uint contextReferences(const ClEnvironment* environment)
{
    return contextReferences(environment->context()->id());
}

}  // namespace Veltrane
