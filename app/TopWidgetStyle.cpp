#include "app/TopWidgetStyle.h"

#include <QWidget>

namespace Veltrane {

void applyTopWidgetStyle(QWidget& widget)
{
    widget.setObjectName(QStringLiteral("topWidget"));
    widget.setStyleSheet(QStringLiteral("QWidget#topWidget { border:2px solid white; }"));
}

}  // namespace Veltrane
