#include "testsupport/Screenshots.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>

namespace Veltrane {

std::string screenshotPath(const std::string& name)
{
    const QString folder = QStringLiteral(KORVASTEL_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    return (folder + "/" + QString::fromStdString(name) + ".png").toStdString();
}

bool saveScreenshot(QWidget& widget, const QString& name)
{
    return widget.grab().save(QString::fromStdString(screenshotPath(name.toStdString())));
}

}  // namespace Veltrane
