#include "render/SplitterDrag.h"

#include "render/InteractiveView.h"
#include "render/ViewLayout.h"

#include <QMouseEvent>
#include <QWidget>

#include <algorithm>
#include <cstdlib>

namespace Veltrane {
namespace {

/// How far from the press another view's edge may lie to move along.
constexpr int kNeighbourReach = 14;
constexpr int kMinimumSize = 96;

bool within(int value, int low, int high) { return value >= low && value <= high; }

/// Which end of the extent [first, last] of a view lies within reach of a
/// press at `at` on an axis `size` pixels long: -1 the first pixel, +1 the
/// one past the last, 0 neither. Ends at the widget's border do not move.
int edgeNear(int at, int first, int last, int size)
{
    if (at > kNeighbourReach && std::abs(first - at) <= kNeighbourReach)
        return -1;
    if (at < size - kNeighbourReach && std::abs(last + 1 - at) <= kNeighbourReach)
        return 1;
    return 0;
}

/// For a Shift drag: whether the other view's extent [a, b] lies within the
/// dragged view's [low, high] (1), outside it (0), or straddles an end (-1).
int alignment(int a, int b, int low, int high)
{
    const bool first = within(a, low, high);
    const bool second = within(b, low, high);
    if (first && second)
        return 1;
    return first || second ? -1 : 0;
}

}  // namespace

SplitterDrag::Result SplitterDrag::handle(const QMouseEvent& event, QWidget& widget,
                                          const QList<InteractiveView*>& views, bool shiftHeld)
{
    const QPoint point(event.x(), widget.height() - 1 - event.y());
    switch (event.type()) {
    case QEvent::MouseMove:
        if (event.buttons() & Qt::LeftButton)
            return drag(point, widget, views);
        return hover(point, widget, views) ? Result::Handled : Result::NotHandled;
    case QEvent::MouseButtonPress:
        return press(point, event, widget, views, shiftHeld) ? Result::Handled
                                                             : Result::NotHandled;
    case QEvent::MouseButtonRelease:
        return release() ? Result::Handled : Result::NotHandled;
    default:
        widget.unsetCursor();
        return Result::NotHandled;
    }
}

bool SplitterDrag::hover(const QPoint& point, QWidget& widget,
                         const QList<InteractiveView*>& views)
{
    const int x = point.x(), y = point.y();
    const int w = widget.width(), h = widget.height();
    m_dragIndex = -1;
    m_dragEdgeX = m_dragEdgeY = 0;
    for (int i = 0; i < views.size(); ++i) {
        const QRect r = views[i]->rect();
        if (!views[i]->visible() || !within(x, r.left() - 1, r.right() + 2) ||
            !within(y, r.top() - 1, r.bottom() + 2) || x <= 2 || x >= w - 2 || y <= 2 ||
            y >= h - 2)
            continue;
        m_dragEdgeX = std::abs(r.left() - x) <= 1 ? -1 : std::abs(r.right() + 1 - x) <= 1 ? 1 : 0;
        m_dragEdgeY = std::abs(r.top() - y) <= 1 ? 1 : std::abs(r.bottom() + 1 - y) <= 1 ? -1 : 0;
        if (m_dragEdgeX != 0 || m_dragEdgeY != 0) {
            m_dragIndex = i;
            setSizeCursor(widget);
            m_dragNeighbours.clear();
            return true;
        }
    }
    widget.unsetCursor();
    return false;
}

bool SplitterDrag::press(const QPoint& point, const QMouseEvent& event, QWidget& widget,
                         const QList<InteractiveView*>& views, bool shiftHeld)
{
    if (m_dragIndex < 0 || !(event.buttons() & Qt::LeftButton)) {
        widget.unsetCursor();
        return false;
    }
    const int x = point.x(), y = point.y();
    const int w = widget.width(), h = widget.height();
    m_pressPoint = point;
    const QRect dragged = views[m_dragIndex]->rect();
    m_dragNeighbours.clear();
    for (int i = 0; i < views.size(); ++i) {
        if (i == m_dragIndex || !views[i]->visible())
            continue;
        const QRect q = views[i]->rect();
        int edgeX = m_dragEdgeX != 0 ? edgeNear(x, q.left(), q.right(), w) : 0;
        int edgeY = m_dragEdgeY != 0 ? -edgeNear(y, q.top(), q.bottom(), h) : 0;
        if (shiftHeld) {
            // Only views that line up with the dragged one across the edge.
            const int alignedX =
                edgeX ? alignment(q.top(), q.bottom() + 1, dragged.top(), dragged.bottom() + 1) : 1;
            const int alignedY =
                edgeY ? alignment(q.left(), q.right() + 1, dragged.left(), dragged.right() + 1) : 1;
            if (alignedX < 0 || alignedY < 0) {
                m_dragNeighbours.clear();
                break;
            }
            edgeX = alignedX ? edgeX : 0;
            edgeY = alignedY ? edgeY : 0;
        }
        if (edgeX != 0 || edgeY != 0)
            m_dragNeighbours.push_back({i, edgeX, edgeY});
    }
    m_pressRects.clear();
    for (const InteractiveView* view : views)
        m_pressRects.append(view->rect());
    return true;
}

SplitterDrag::Result SplitterDrag::drag(const QPoint& point, QWidget& widget,
                                        const QList<InteractiveView*>& views)
{
    if (m_dragIndex < 0 || m_dragNeighbours.empty() || m_pressRects.size() != views.size()) {
        widget.unsetCursor();
        return Result::NotHandled;
    }
    const Qt::CursorShape shape = widget.cursor().shape();
    if (shape != Qt::SizeHorCursor && shape != Qt::SizeVerCursor && shape != Qt::SizeAllCursor)
        setSizeCursor(widget);
    const QPoint shift = point - m_pressPoint;
    const QSize size = widget.size();
    std::vector<Neighbour> moving = m_dragNeighbours;
    moving.push_back({m_dragIndex, m_dragEdgeX, m_dragEdgeY});
    for (const Neighbour& edges : moving) {
        InteractiveView* view = views[edges.index];
        view->setRect(dragRect(edges, view->rect(), size, shift));
    }
    for (InteractiveView* view : views)
        view->relativeRect = pixelsToRelative(view->rect(), size.width(), size.height());
    return Result::Moved;
}

bool SplitterDrag::release()
{
    if (m_dragIndex < 0)
        return false;
    m_dragIndex = -1;
    m_dragEdgeX = m_dragEdgeY = 0;
    return true;
}

void SplitterDrag::setSizeCursor(QWidget& widget) const
{
    if (m_dragEdgeX != 0 && m_dragEdgeY != 0)
        widget.setCursor(Qt::SizeAllCursor);
    else if (m_dragEdgeX != 0)
        widget.setCursor(Qt::SizeHorCursor);
    else
        widget.setCursor(Qt::SizeVerCursor);
}

QRect SplitterDrag::dragRect(const Neighbour& edges, const QRect& current, const QSize& widgetSize,
                             const QPoint& shift) const
{
    const QRect pressed = m_pressRects[edges.index];
    const int w = widgetSize.width(), h = widgetSize.height();
    QRect r = current;
    if (edges.edgeX == -1) {
        const int left = std::max(std::min(pressed.left() + shift.x(), w - 102), 101);
        r.setLeft(std::min(left, pressed.right() - kMinimumSize + 1));
        r.setRight(pressed.right());
    } else if (edges.edgeX == 1) {
        const int width = std::max(std::min(pressed.width() + shift.x(), w - 109), kMinimumSize);
        r.setRight(r.left() + width - 1);
    }
    if (edges.edgeY == 1) {
        const int bottom = std::max(std::min(pressed.top() + shift.y(), h - 103), 101);
        r.setTop(std::min(bottom, pressed.bottom() - kMinimumSize + 1));
        r.setBottom(pressed.bottom());
    } else if (edges.edgeY == -1) {
        const int height = std::max(std::min(pressed.height() + shift.y(), h - 110), kMinimumSize);
        r.setBottom(r.top() + height - 1);
    }
    return r;
}

}  // namespace Veltrane
