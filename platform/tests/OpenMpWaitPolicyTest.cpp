#include "platform/OpenMpWaitPolicy.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace Veltrane {
namespace {

/// Sets OMP_WAIT_POLICY (unsets it for null) and restores it afterwards.
class WaitPolicyVariable {
public:
    explicit WaitPolicyVariable(const char* value)
    {
        if (const char* old = std::getenv("OMP_WAIT_POLICY"))
            m_old = old;
        set(value);
    }
    ~WaitPolicyVariable() { set(m_old.empty() ? nullptr : m_old.c_str()); }

    static void set(const char* value)
    {
        if (value)
            setenv("OMP_WAIT_POLICY", value, 1);
        else
            unsetenv("OMP_WAIT_POLICY");
    }

private:
    std::string m_old;
};

TEST(OpenMpWaitPolicy, ReportsWhatTheRuntimeReads)
{
    const struct {
        const char* value;
        const char* policy;
    } cases[] = {{"passive", "passive"}, {"ACTIVE", "active"}, {"spin", "default"}, {"", "default"},
                 {nullptr, "default"}};
    for (const auto& c : cases) {
        const WaitPolicyVariable variable(c.value);
        EXPECT_EQ(openMpWaitPolicy(), c.policy) << (c.value ? c.value : "unset");
    }
}

TEST(OpenMpWaitPolicy, TheUsersChoiceIsKept)
{
    const WaitPolicyVariable variable("active");
    char name[] = "platform_tests";
    char* argv[] = {name, nullptr};
    chooseOpenMpWaitPolicy(argv);  // returns: nothing to choose
    EXPECT_EQ(openMpWaitPolicy(), "active");
}

/// Chooses the policy in a process without a choice; the restarted program
/// runs no test and its OpenMP runtime shows the policy it started with.
void chooseWithoutAChoice()
{
    WaitPolicyVariable::set(nullptr);
    setenv("OMP_DISPLAY_ENV", "true", 1);  // on standard error, which the test reads
    std::freopen("/dev/null", "w", stdout);
    char name[] = "platform_tests";
    char filter[] = "--gtest_filter=-*";
    char* argv[] = {name, filter, nullptr};
    chooseOpenMpWaitPolicy(argv);
    std::exit(3);  // not restarted
}

TEST(OpenMpWaitPolicy, WithoutAChoiceTheProgramRestartsWithThePassivePolicy)
{
    EXPECT_EXIT(chooseWithoutAChoice(), ::testing::ExitedWithCode(0), "OMP_WAIT_POLICY = 'PASSIVE'");
    EXPECT_GE(omp_get_max_threads(), 1);  // the runtime is part of this program
}

}  // namespace
}  // namespace Veltrane
