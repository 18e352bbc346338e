#include "testsupport/GlPointer.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>

namespace Veltrane {

QPoint GlPointer::toWidget(const QPoint& window) const
{
    return {window.x(), m_widget->height() - 1 - window.y()};
}

void GlPointer::sendMouse(QEvent::Type type, Qt::MouseButton button, const QPoint& window,
                          Qt::KeyboardModifiers modifiers)
{
    const QPoint local = toWidget(window);
    QMouseEvent event(type, local, m_widget->mapToGlobal(local), button, m_held, modifiers);
    QApplication::sendEvent(m_widget, &event);
}

void GlPointer::press(Qt::MouseButton button, const QPoint& window, Qt::KeyboardModifiers modifiers)
{
    const bool alone = m_held == Qt::NoButton;
    m_held |= button;
    // QTest presses one button at a time; a second button goes directly.
    if (alone)
        QTest::mousePress(m_widget, button, modifiers, toWidget(window));
    else
        sendMouse(QEvent::MouseButtonPress, button, window, modifiers);
}

void GlPointer::move(const QPoint& window, Qt::KeyboardModifiers modifiers)
{
    // QTest moves the X pointer, whose events carry no buttons: send directly.
    sendMouse(QEvent::MouseMove, Qt::NoButton, window, modifiers);
}

void GlPointer::release(Qt::MouseButton button, const QPoint& window,
                        Qt::KeyboardModifiers modifiers)
{
    m_held &= ~button;
    if (m_held == Qt::NoButton)
        QTest::mouseRelease(m_widget, button, modifiers, toWidget(window));
    else
        sendMouse(QEvent::MouseButtonRelease, button, window, modifiers);
}

void GlPointer::drag(Qt::MouseButton button, const QPoint& from, const QPoint& to, int steps)
{
    press(button, from);
    for (int i = 1; i <= steps; ++i)
        move(from + (to - from) * i / steps);
    release(button, to);
}

void GlPointer::wheel(const QPoint& window, int delta)
{
    const QPoint local = toWidget(window);
    QWheelEvent event(local, m_widget->mapToGlobal(local), QPoint(), QPoint(0, delta), m_held,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(m_widget, &event);
}

void GlPointer::key(Qt::Key key)
{
    QTest::keyClick(m_widget, key);
}

}  // namespace Veltrane
