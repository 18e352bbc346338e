#pragma once

namespace Veltrane::TestSupport {

/// Sanitizer builds check every test program for leaks at exit. The leak
/// checker's tracer crashes now and then in processes that ran
/// a scan through the whole window (a recorded sequence's player, the
/// reconstruction worker with its own OpenMP team, the GL driver's threads):
/// such a program calls this to skip the check rather than fail on the
/// checker's own fault. Without a sanitizer it changes nothing.
void skipLeakCheck();

/// Whether skipLeakCheck() was called in this process.
bool leakCheckSkipped();

}  // namespace Veltrane::TestSupport
