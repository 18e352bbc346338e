#include "testsupport/OpenNI2Drivers.h"

#include <dlfcn.h>
#include <link.h>

#include <climits>
#include <filesystem>

namespace Veltrane {

void pinOpenNI2Drivers()
{
    void* library = dlopen("libOpenNI2.so.0", RTLD_NOW);
    char folder[PATH_MAX] = {};
    if (!library || dlinfo(library, RTLD_DI_ORIGIN, folder) != 0)
        return;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(folder) / "OpenNI2/Drivers", error))
        dlopen(entry.path().c_str(), RTLD_NOW | RTLD_NODELETE);
}

}  // namespace Veltrane
