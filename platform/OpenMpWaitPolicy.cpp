#include "platform/OpenMpWaitPolicy.h"

#include <strings.h>
#include <unistd.h>

#include <cstdlib>

namespace Veltrane {

namespace {

constexpr const char* variable = "OMP_WAIT_POLICY";

}  // namespace

void chooseOpenMpWaitPolicy(char** argv)
{
    const char* chosen = std::getenv(variable);
    if ((chosen && *chosen) || setenv(variable, "passive", 1) != 0)
        return;
    execv("/proc/self/exe", argv);
    unsetenv(variable);  // still running: the runtime started without it
}

std::string openMpWaitPolicy()
{
    const char* chosen = std::getenv(variable);
    if (chosen && strcasecmp(chosen, "passive") == 0)
        return "passive";
    if (chosen && strcasecmp(chosen, "active") == 0)
        return "active";
    return "default";
}

}  // namespace Veltrane
