#include "render/Interaction.h"

#include "render/DisplayWidget.h"

#include <QApplication>
#include <QContextMenuEvent>

namespace Veltrane {

void Interaction::postContextMenu(const QPoint& pos, const QPoint& globalPos,
                                  Qt::KeyboardModifiers modifiers)
{
    auto* display = qobject_cast<DisplayWidget*>(QApplication::widgetAt(globalPos));
    if (!display)
        return;
    QCoreApplication::postEvent(
        display, new QContextMenuEvent(QContextMenuEvent::Other, pos, globalPos, modifiers));
}

bool InteractionFilter::handleEvent(QEvent* event)
{
    if (m_passFlags & PassAll)
        return false;
    const bool passMouse = m_passFlags & PassMouse;
    const bool passKeys = m_passFlags & PassKeys;
    bool swallow = false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        swallow = !passMouse;
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        swallow = !passKeys;
        break;
    case QEvent::ContextMenu:
        swallow = !passMouse && !passKeys;
        break;
    default:
        break;
    }
    if (swallow)
        event->accept();
    return swallow;
}

}  // namespace Veltrane
