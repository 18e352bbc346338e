#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

#include <vector>

class QMouseEvent;
class QWidget;

namespace Veltrane {

class InteractiveView;

/// Dragging the edges between the views of a display widget with the left
/// mouse button. Hovering within a pixel of a view's edge shows a size
/// cursor; pressing there collects the views whose edges lie within 14 pixels
/// of the press (with Shift only those that line up with the dragged view);
/// dragging moves all those edges, keeping every view at least 96 pixels wide
/// and high and the moved left and lower edges 101 pixels from the widget's
/// left and bottom. A drag with no neighbour does nothing.
class SplitterDrag {
public:
    enum class Result {
        NotHandled,
        Handled,  ///< a hover, press or release of the splitter
        Moved,    ///< views got new rectangles and relative places
    };

    /// Handles one mouse event as `widget` received it (Qt coordinates),
    /// over `views`; sets the widget's cursor.
    Result handle(const QMouseEvent& event, QWidget& widget, const QList<InteractiveView*>& views,
                  bool shiftHeld);

    /// Index of the view whose edge is hovered or dragged; -1 for none.
    int dragIndex() const { return m_dragIndex; }

private:
    struct Neighbour {
        int index;
        int edgeX;  ///< -1 left edge, +1 right edge, 0 none
        int edgeY;  ///< +1 lower edge, -1 upper edge, 0 none
    };

    bool hover(const QPoint& point, QWidget& widget, const QList<InteractiveView*>& views);
    bool press(const QPoint& point, const QMouseEvent& event, QWidget& widget,
               const QList<InteractiveView*>& views, bool shiftHeld);
    Result drag(const QPoint& point, QWidget& widget, const QList<InteractiveView*>& views);
    bool release();
    void setSizeCursor(QWidget& widget) const;
    QRect dragRect(const Neighbour& edges, const QRect& current, const QSize& widgetSize,
                   const QPoint& shift) const;

    QPoint m_pressPoint;
    int m_dragIndex = -1;
    QList<QRect> m_pressRects;
    int m_dragEdgeX = 0;
    int m_dragEdgeY = 0;
    std::vector<Neighbour> m_dragNeighbours;
};

}  // namespace Veltrane
