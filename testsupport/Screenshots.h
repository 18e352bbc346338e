#pragma once

#include <QString>

#include <string>

class QWidget;

namespace Veltrane {

/// Where tests put the pictures of what they drew, for people to look at:
/// "screenshots/<name>.png" in the build folder. Creates the folder.
std::string screenshotPath(const std::string& name);

/// Writes what `widget` shows to screenshotPath(`name`). False when the file
/// could not be written.
bool saveScreenshot(QWidget& widget, const QString& name);

}  // namespace Veltrane
