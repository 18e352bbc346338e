// Sanitizer builds: the leak check runs once every test has run, while the
// helper threads of OpenMP, OpenCL and the GL driver are parked, instead of
// at exit, while they are being torn down: the leak checker's tracer can
// crash on a thread that is going away. Linked into every test program of a
// sanitizer build; the check at exit is then skipped.
#include <gtest/gtest.h>
#include <sanitizer/lsan_interface.h>

namespace {

class LeakCheckAfterTests : public ::testing::Environment {
public:
    void TearDown() override { __lsan_do_leak_check(); }
};

// gtest owns the environment.
::testing::Environment* const leakCheck = ::testing::AddGlobalTestEnvironment(new LeakCheckAfterTests);

}  // namespace
