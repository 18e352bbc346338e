#pragma once

#include "core/ClDevice.h"
#include "core/ClEnvironment.h"
#include "core/ClPlatform.h"
#include "testsupport/LogCapture.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace Veltrane {

/// How many references the OpenCL context of `environment` has; every
/// memory object and program made on it holds one.
inline cl_uint contextReferences(const ClEnvironment* environment)
{
    cl_uint count = 0;
    clGetContextInfo(environment->context()->id(), CL_CONTEXT_REFERENCE_COUNT, sizeof count,
                     &count, nullptr);
    return count;
}

/// The message of the std::runtime_error that `call` throws.
template <typename Call>
std::string thrownBy(Call call)
{
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "nothing thrown";
}

/// One environment on the first OpenCL device of the machine (whatever its
/// type), shared by the tests of a process: building programs is slow.
inline ClEnvironment* testEnvironment()
{
    static const std::unique_ptr<ClEnvironment> environment = [] {
        const auto platforms = ClPlatform::platforms();
        if (platforms.empty())
            return std::unique_ptr<ClEnvironment>();
        const auto devices = platforms.front()->devices(CL_DEVICE_TYPE_ALL);
        if (devices.empty())
            return std::unique_ptr<ClEnvironment>();
        return std::make_unique<ClEnvironment>(platforms.front().get(), devices.front().get());
    }();
    return environment.get();
}

}  // namespace Veltrane
