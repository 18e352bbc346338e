#pragma once

#include <string>

namespace Veltrane {

/// Lets idle OpenMP threads sleep at once instead of spinning (the "passive"
/// wait policy), unless the user chose a policy with OMP_WAIT_POLICY. Spinning
/// threads take the cores that a loaded machine needs for the work itself.
///
/// The OpenMP runtime reads its policy only while the process starts, so in a
/// process without the variable this sets it and restarts the program in
/// place with `argv` (the arguments of main); call it first thing in main,
/// before anything whose work a restart would lose. Returns when the policy is
/// settled, or when the restart failed (the runtime then keeps its default).
void chooseOpenMpWaitPolicy(char** argv);

/// The wait policy the OpenMP runtime started with, as the environment tells
/// it: "passive", "active" or "default".
std::string openMpWaitPolicy();

}  // namespace Veltrane
