#pragma once

#include "render/InteractiveView.h"

#include <QObject>
#include <QRect>

class QEvent;
class QMenu;

namespace Veltrane {

/// A small panel drawn over the views of a `DisplayWidget`, pinned to a corner
/// of one view or of the whole widget; the widget lays overlays out, offers
/// them events before its views and paints them after. Its rectangle is in
/// the widget's OpenGL window coordinates (origin bottom left, y upwards).
///
/// This base draws nothing, adds no menu entries and takes no events;
/// overlays that show something derive from it.
class InteractiveOverlay : public QObject {
    Q_OBJECT
    Q_PROPERTY(QRect rect READ rect WRITE setRect NOTIFY rectChanged)
    Q_PROPERTY(bool visibility READ visibility WRITE setVisible NOTIFY visibilityChanged)
    Q_PROPERTY(AnchorPoint anchorPoint READ anchorPoint WRITE setAnchorPoint NOTIFY
                   anchorPointChanged)
    Q_PROPERTY(Veltrane::InteractiveView* anchorView READ anchorView WRITE setAnchorView NOTIFY
                   anchorViewChanged)

public:
    /// The corner an overlay keeps to; overlays of one corner stack away
    /// from it.
    enum AnchorPoint { LowerLeft = 0, LowerRight = 1, UpperLeft = 2, UpperRight = 3 };
    Q_ENUM(AnchorPoint)

    /// A panel of `width` x `height` pixels in the lower-left corner of the
    /// whole widget.
    InteractiveOverlay(int width, int height);

    /// Draws the panel, with the display widget's context current.
    virtual void paint() {}
    virtual void addContextMenuActions(QMenu* /*menu*/) {}
    /// Handles one event (mouse and wheel positions in window coordinates);
    /// true when consumed.
    virtual bool handleEvent(QEvent* /*event*/) { return false; }

    int overlayWidth() const { return m_overlayWidth; }
    int overlayHeight() const { return m_overlayHeight; }
    QRect rect() const { return m_rect; }
    AnchorPoint anchorPoint() const { return m_anchorPoint; }
    /// The view the overlay is pinned to; null for the whole widget.
    InteractiveView* anchorView() const { return m_anchorView; }
    bool visibility() const { return m_visibility; }

    void setSize(int width, int height);
    /// Stores `rect` and emits rectChanged() when a corner differs.
    void setRect(const QRect& rect);
    void setAnchorPoint(AnchorPoint anchorPoint);
    void setAnchorView(InteractiveView* view);

public slots:
    virtual void reset() {}
    /// Asks the display widget for a repaint.
    void update();
    /// Shows or hides the panel; with `updateDisplay`, asks for a repaint.
    void setVisible(bool value, bool updateDisplay);
    void setVisible(bool value);

signals:
    void visibilityChanged(bool visible);
    void sizeChanged(int width, int height);
    void rectChanged(const QRect& rect);
    void anchorPointChanged(Veltrane::InteractiveOverlay::AnchorPoint anchorPoint);
    void anchorViewChanged(const Veltrane::InteractiveView* view);
    void updateRequested();

private:
    int m_overlayWidth;
    int m_overlayHeight;
    QRect m_rect;
    AnchorPoint m_anchorPoint = LowerLeft;
    InteractiveView* m_anchorView = nullptr;
    bool m_visibility = true;
};

}  // namespace Veltrane
