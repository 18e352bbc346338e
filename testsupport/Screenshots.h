#pragma once

#include <QString>

class QWidget;

namespace Veltrane {

/// Writes what `widget` shows into the build folder as
/// "screenshots/<name>.png", for people to look at what a user sees. False
/// when the file could not be written.
bool saveScreenshot(QWidget& widget, const QString& name);

}  // namespace Veltrane
