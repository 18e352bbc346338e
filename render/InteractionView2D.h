#pragma once

#include "render/Interaction.h"

#include <QPointF>

class QMouseEvent;
class QWheelEvent;

namespace Veltrane {

class ImageView2D;

/// The mouse handler of an `ImageView2D`: pans, zooms, windows, blends,
/// rotates the slice plane through a volume, steps through the slices of a
/// volume or the images of a set, and moves the image itself instead of the
/// view. Without a button held it updates the hovered voxel that the slice
/// view reads out.
///
/// Drags (dx, dy in window pixels, y upwards; w and h the view's size):
/// - right: pans, the picture following the mouse;
/// - left: zooms by exp(-0.01 dy); with Shift raises the level by dx / w and
///   the window by dy / h; with Alt raises the blend factor by dx / w; on a
///   volume with Ctrl tilts the plane (0.0035 radians a pixel);
/// - middle: steps through the slices or images, one a pixel; with Ctrl
///   turns the plane about its normal.
/// The wheel steps one slice or image a notch (120 units; finer wheels add
/// up); with Ctrl it steps through the images of the set on a volume too.
class InteractionView2D : public Interaction {
public:
    /// Acts on `view`, which owns the handler.
    explicit InteractionView2D(ImageView2D* view);

    bool handleEvent(QEvent* event) override;

    /// The transforming step of a move: pan or rotation, of the plane or (in
    /// move-image mode) of the focus image; true when it acted.
    bool applyTransformDrag(QMouseEvent* event);
    /// The value step of a move: blend factor or stepping, or else the
    /// hovered voxel; false at once for an accepted event.
    bool applyValueDrag(QMouseEvent* event);

    /// 1: drags move the focus image instead of the view.
    int moveImage = 0;

private:
    bool handleMove(QMouseEvent* event);
    bool handleWheel(QWheelEvent* event);
    /// Moves the plane through the volume by `up` slices: towards lower
    /// indices along the plane's normal when the view is not flipped.
    void stepSlices(int up);
    /// Moves the focus of the image set `up` images towards its start;
    /// emits the view's focusChanged() when it changed.
    void stepImages(int up);
    int width() const;
    int height() const;

    ImageView2D* m_view;
    bool m_dragged = false;
    Qt::MouseButton m_button = Qt::NoButton;
    QPointF m_lastPos;
    QPointF m_delta;
    /// Wheel units not yet turned into steps.
    int m_wheelRemainder = 0;
};

}  // namespace Veltrane
