#include "render/InteractionView2D.h"

#include "core/SharedImageSet.h"
#include "render/GlSlice.h"
#include "render/GlSliceView.h"
#include "render/ImageView2D.h"

#include <QMouseEvent>
#include <QWheelEvent>

#include <Eigen/Geometry>

#include <cmath>
#include <cstdlib>

namespace Veltrane {
namespace {

/// Radians of rotation per pixel dragged.
constexpr double kRadiansPerPixel = 0.0035;
/// Wheel units of one notch.
constexpr int kNotch = 120;

GlMatrix toGlMatrix(const Eigen::Matrix4d& matrix)
{
    GlMatrix result;
    Eigen::Map<Eigen::Matrix4d>(result.data()) = matrix;
    return result;
}

}  // namespace

InteractionView2D::InteractionView2D(ImageView2D* view) : m_view(view) {}

int InteractionView2D::width() const
{
    return m_view->rect().width();
}

int InteractionView2D::height() const
{
    return m_view->rect().height();
}

bool InteractionView2D::handleEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        m_dragged = false;
        m_button = mouse->button();
        m_lastPos = mouse->localPos();
        m_delta = QPointF();
        mouse->accept();
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == m_button) {
            if (m_button == Qt::RightButton && !m_dragged)
                postContextMenu(mouse->pos(), mouse->globalPos(), mouse->modifiers());
            m_button = Qt::NoButton;
            mouse->accept();
        }
        m_lastPos = mouse->localPos();
        m_delta = QPointF();
        return true;
    }
    case QEvent::MouseMove:
        return handleMove(static_cast<QMouseEvent*>(event));
    case QEvent::Wheel:
        return handleWheel(static_cast<QWheelEvent*>(event));
    default:
        return false;
    }
}

bool InteractionView2D::handleMove(QMouseEvent* event)
{
    if (event->buttons() != Qt::NoButton)
        m_dragged = true;
    if (m_button != Qt::NoButton)
        m_delta = event->localPos() - m_lastPos;
    m_lastPos = event->localPos();
    if (applyTransformDrag(event))
        return true;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (m_button == Qt::LeftButton && modifiers == Qt::ShiftModifier) {
        m_view->setLevel(m_view->level() + m_delta.x() / width());
        m_view->setWindow(m_view->window() + m_delta.y() / height());
        event->accept();
    } else if (m_button == Qt::LeftButton && modifiers == Qt::NoModifier && m_delta.y() != 0.0) {
        m_view->setZoom(m_view->zoom() * std::exp(-0.01 * m_delta.y()));
        event->accept();
    }
    return applyValueDrag(event);
}

bool InteractionView2D::handleWheel(QWheelEvent* event)
{
    const QPoint angle = event->angleDelta();
    m_wheelRemainder += std::abs(angle.x()) > std::abs(angle.y()) ? angle.x() : angle.y();
    const int steps = m_wheelRemainder / kNotch;
    m_wheelRemainder -= steps * kNotch;
    if (steps != 0) {
        if (m_view->sliceView()->kind() == 1 && event->modifiers() != Qt::ControlModifier)
            stepSlices(steps);
        else
            stepImages(steps);
    }
    event->accept();
    return true;
}

bool InteractionView2D::applyTransformDrag(QMouseEvent* event)
{
    const double dx = m_delta.x();
    const double dy = m_delta.y();
    if (m_button == Qt::NoButton || (dx == 0.0 && dy == 0.0))
        return false;
    GlSliceView& sliceView = *m_view->sliceView();
    SharedImageSet& set = *sliceView.slice()->images();
    const Eigen::Matrix4d view = Eigen::Map<const Eigen::Matrix4d>(sliceView.matrix().data());
    const Eigen::Matrix4d moved = moveImage ? set.matrix(-1) : view;
    const auto axis = [&](int column) {
        return Eigen::Vector3d(moved.block<3, 1>(0, column)).normalized();
    };
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    Eigen::Affine3d transform = Eigen::Affine3d::Identity();
    if (m_button == Qt::LeftButton) {
        if (sliceView.kind() != 1 || modifiers != Qt::ControlModifier)
            return false;
        transform = Eigen::AngleAxisd(kRadiansPerPixel * dx, axis(1)) *
                    Eigen::AngleAxisd(kRadiansPerPixel * dy, axis(0));
    } else if (m_button == Qt::RightButton) {
        const double perPixel = sliceView.scale() * sliceView.zoom();
        const double up = sliceView.flip ? -1.0 : 1.0;
        transform = Eigen::Translation3d(-perPixel * dx, -up * perPixel * dy, 0.0);
    } else if (m_button == Qt::MiddleButton && modifiers == Qt::ControlModifier) {
        transform = Eigen::AngleAxisd(-kRadiansPerPixel * dx, axis(2));
    } else {
        return false;
    }
    if (moveImage == 0)
        sliceView.setMatrix(toGlMatrix(moved * transform.matrix()));
    else if (moveImage == 1)
        set.setMatrix(moved * view * transform.matrix() * view.inverse());
    event->accept();
    return true;
}

bool InteractionView2D::applyValueDrag(QMouseEvent* event)
{
    if (event->isAccepted())
        return false;
    const double dx = m_delta.x();
    const double dy = m_delta.y();
    if (m_button != Qt::NoButton && (dx != 0.0 || dy != 0.0)) {
        if (m_button == Qt::LeftButton && event->modifiers() == Qt::AltModifier) {
            if (dx == 0.0)
                return false;
            m_view->setBlendFactor(m_view->blendFactor() + dx / width());
            return true;
        }
        if (m_button == Qt::MiddleButton && dy != 0.0) {
            const int up = static_cast<int>(dy);
            if (m_view->sliceView()->kind() == 1)
                stepSlices(up);
            else
                stepImages(up);
            return true;
        }
        return false;
    }
    return m_view->sliceView()->updatePixel(static_cast<int>(m_lastPos.x()),
                                            static_cast<int>(m_lastPos.y()));
}

void InteractionView2D::stepSlices(int up)
{
    GlSliceView& sliceView = *m_view->sliceView();
    sliceView.slice()->moveSlice(sliceView.flip ? up : -up);
}

void InteractionView2D::stepImages(int up)
{
    SharedImageSet& set = *m_view->slice()->images();
    const int before = set.selection().focus;
    set.setFocus(before - up);
    if (set.selection().focus != before)
        emit m_view->focusChanged(set.selection().focus + 1);
}

}  // namespace Veltrane
