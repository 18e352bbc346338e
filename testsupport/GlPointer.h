#pragma once

#include <QEvent>
#include <QPoint>
#include <Qt>

class QWidget;

namespace Veltrane {

/// The mouse and keyboard of a test, driving a widget that works in OpenGL
/// window coordinates (origin at the bottom-left pixel, y upwards), such as a
/// display widget, with real Qt events. Points are given in those
/// coordinates.
class GlPointer {
public:
    /// Drives `widget`, which may be set later and must outlive its use.
    explicit GlPointer(QWidget* widget = nullptr) : m_widget(widget) {}

    void setWidget(QWidget* widget) { m_widget = widget; }
    /// The widget's own (Qt) coordinates of a window point.
    QPoint toWidget(const QPoint& window) const;

    /// Press and release go through QTest; moves carry the buttons held.
    void press(Qt::MouseButton button, const QPoint& window, Qt::KeyboardModifiers modifiers = {});
    void move(const QPoint& window, Qt::KeyboardModifiers modifiers = {});
    void release(Qt::MouseButton button, const QPoint& window,
                 Qt::KeyboardModifiers modifiers = {});
    /// Press at `from`, `steps` moves along the line to `to`, release at `to`.
    void drag(Qt::MouseButton button, const QPoint& from, const QPoint& to, int steps = 4);
    /// A wheel event of `delta` (120 per notch), sent directly.
    void wheel(const QPoint& window, int delta);
    /// Sends a key press and release through QTest.
    void key(Qt::Key key);
    Qt::MouseButtons held() const { return m_held; }

private:
    void sendMouse(QEvent::Type type, Qt::MouseButton button, const QPoint& window,
                   Qt::KeyboardModifiers modifiers);

    QWidget* m_widget;
    Qt::MouseButtons m_held;
};

}  // namespace Veltrane
