#pragma once

namespace Veltrane {

/// Keeps OpenNI 2's camera drivers loaded until the process ends. The library
/// loads its drivers when it is initialised and unloads them when it shuts
/// down, and they leave allocations behind; once unloaded, a leak checker can
/// no longer tell whose those are. Pinned, the leaks stay attributed to the
/// drivers' libraries. Call once before the first sensor is initialised.
void pinOpenNI2Drivers();

}  // namespace Veltrane
