#pragma once

namespace Veltrane {

/// Whether an OpenCL runtime (the ICD loader) is installed: loads it once,
/// before the first OpenCL call, and keeps it loaded.
bool openClRuntimeInstalled();

}  // namespace Veltrane
