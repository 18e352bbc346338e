#pragma once

#include <QString>

namespace Veltrane {

/// The per-user folder for application data (the XDG data home, for instance
/// ~/.local/share), created when missing; empty when there is none or it
/// cannot be created.
QString roamingAppDataFolder();

}  // namespace Veltrane
