#include "platform/OpenClRuntime.h"

#include <dlfcn.h>

namespace Veltrane {

bool openClRuntimeInstalled()
{
    static void* const library = dlopen("libOpenCL.so.1", RTLD_NOW | RTLD_GLOBAL);
    return library != nullptr;
}

}  // namespace Veltrane
