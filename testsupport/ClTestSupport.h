#pragma once

#include "core/ClEnvironment.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace Veltrane {

/// One environment on the first OpenCL device of the machine (whatever its
/// type), shared by the tests of a process: building programs is slow. Null
/// without an OpenCL device.
ClEnvironment* testEnvironment();

/// How many references `context` has; every memory object and program made
/// on it holds one.
cl_uint contextReferences(cl_context context);
/// The same for the context of `environment`.
cl_uint contextReferences(const ClEnvironment* environment);

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

/// A test suite whose tests share one `Shared` object built on the test
/// environment, since building its OpenCL programs is slow; every test fails
/// at once when it could not be built. The object is made by
/// `Suite::create(environment)`; a suite whose `Shared` needs more than the
/// environment defines its own, public, `create`.
template <typename Suite, typename Shared>
class ClSharedObjectTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (testEnvironment())
            s_shared = Suite::create(testEnvironment());
    }
    static void TearDownTestSuite() { s_shared.reset(); }
    void SetUp() override { ASSERT_NE(s_shared, nullptr); }

    static std::unique_ptr<Shared> create(ClEnvironment* environment)
    {
        return std::make_unique<Shared>(environment);
    }
    static ClEnvironment* environment() { return testEnvironment(); }
    static Shared& shared() { return *s_shared; }
    static bool sharedIsBuilt() { return s_shared != nullptr; }

private:
    static inline std::unique_ptr<Shared> s_shared;
};

}  // namespace Veltrane
