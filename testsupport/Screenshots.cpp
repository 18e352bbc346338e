#include "testsupport/Screenshots.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>

namespace Veltrane {

bool saveScreenshot(QWidget& widget, const QString& name)
{
    const QString folder = QStringLiteral(KORVASTEL_SCREENSHOT_DIR);
    return QDir().mkpath(folder) &&
           widget.grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

}  // namespace Veltrane
