#pragma once

namespace Veltrane {

/// Keeps every library loaded so far loaded until the process ends. Mesa
/// unloads its GL driver when the application closes its display, and the
/// driver leaves allocations behind; once it is unloaded, a leak checker can
/// no longer tell whose those are. Call after the last test, before the
/// QApplication goes.
void pinLoadedLibraries();

}  // namespace Veltrane
