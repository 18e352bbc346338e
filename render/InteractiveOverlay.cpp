#include "render/InteractiveOverlay.h"

namespace Veltrane {

InteractiveOverlay::InteractiveOverlay(int width, int height)
    : m_overlayWidth(width), m_overlayHeight(height)
{
}

void InteractiveOverlay::setSize(int width, int height)
{
    if (width == m_overlayWidth && height == m_overlayHeight)
        return;
    m_overlayWidth = width;
    m_overlayHeight = height;
    emit sizeChanged(width, height);
}

void InteractiveOverlay::setRect(const QRect& rect)
{
    if (rect == m_rect)
        return;
    m_rect = rect;
    emit rectChanged(rect);
}

void InteractiveOverlay::setAnchorPoint(AnchorPoint anchorPoint)
{
    if (anchorPoint == m_anchorPoint)
        return;
    m_anchorPoint = anchorPoint;
    emit anchorPointChanged(anchorPoint);
}

void InteractiveOverlay::setAnchorView(InteractiveView* view)
{
    if (view == m_anchorView)
        return;
    m_anchorView = view;
    emit anchorViewChanged(view);
}

void InteractiveOverlay::update()
{
    emit updateRequested();
}

void InteractiveOverlay::setVisible(bool value, bool updateDisplay)
{
    if (value != m_visibility) {
        m_visibility = value;
        emit visibilityChanged(value);
    }
    if (updateDisplay)
        emit updateRequested();
}

void InteractiveOverlay::setVisible(bool value)
{
    setVisible(value, true);
}

}  // namespace Veltrane
