#include "testsupport/LoadedLibraries.h"

#include <dlfcn.h>
#include <link.h>

#include <string>
#include <vector>

namespace Veltrane {

void pinLoadedLibraries()
{
    std::vector<std::string> paths;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            if (info->dlpi_name && info->dlpi_name[0] != '\0')
                static_cast<std::vector<std::string>*>(data)->push_back(info->dlpi_name);
            return 0;
        },
        &paths);
    // RTLD_NOLOAD only takes a further reference to a library that is loaded,
    // and RTLD_NODELETE makes the library stay when the other references go.
    for (const std::string& path : paths)
        dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace Veltrane
