#include "render/Interaction3D.h"

#include "render/GlView.h"
#include "render/InteractiveView.h"

#include <Eigen/Geometry>
#include <Eigen/LU>

#include <QMouseEvent>
#include <QWheelEvent>

#include <cmath>

namespace Veltrane {
namespace {

Eigen::Matrix4d translation(const Eigen::Vector3d& v)
{
    Eigen::Matrix4d t = Eigen::Matrix4d::Identity();
    t.block<3, 1>(0, 3) = v;
    return t;
}

Eigen::Matrix4d rotation(const Eigen::Vector3d& axis, double degrees)
{
    Eigen::Matrix4d r = Eigen::Matrix4d::Identity();
    r.block<3, 3>(0, 0) =
        Eigen::AngleAxisd(degrees * M_PI / 180.0, axis.normalized()).toRotationMatrix();
    return r;
}

bool isCameraButton(Qt::MouseButton button)
{
    return button == Qt::LeftButton || button == Qt::RightButton || button == Qt::MiddleButton;
}

}  // namespace

Interaction3D::Interaction3D(InteractiveView* view) : m_view(view)
{
    reset();
}

void Interaction3D::reset()
{
    m_base.setIdentity();
    m_panX = m_panY = m_distance = 0.0;
    m_angleX = m_angleY = m_roll = 0.0;
    m_rotationCenter.setZero();
    pushCamera();
}

void Interaction3D::setSpeeds(double pan, double rotation, double zoom)
{
    m_panSpeed = pan;
    m_rotationSpeed = rotation;
    m_zoomSpeed = zoom < 0.0 ? pan : zoom;
}

void Interaction3D::setTranslation(double x, double y, double distance)
{
    m_panX = x;
    m_panY = y;
    m_distance = distance;
    pushCamera();
}

void Interaction3D::setRotationCenter(const GlVector& center)
{
    bakeTransform();
    const Eigen::Matrix4d current = pose();
    const Eigen::Vector3d q(center[0], center[1], center[2]);
    m_base = translation(-q) * current * translation(q);
    m_rotationCenter = q;
    pushCamera();
}

void Interaction3D::bakeTransform()
{
    const Eigen::Matrix4d current = pose();
    m_base = translation(-m_rotationCenter) * current * translation(m_rotationCenter);
    m_panX = m_panY = m_distance = 0.0;
    m_angleX = m_angleY = m_roll = 0.0;
}

Eigen::Matrix4d Interaction3D::pose() const
{
    const Eigen::Matrix3d axes = m_base.inverse().block<3, 3>(0, 0);
    const Eigen::Vector3d ex = axes.col(0);
    const Eigen::Vector3d ey = axes.col(1);
    const Eigen::Vector3d ez = axes.col(2);
    const Eigen::Vector3d shift = m_panX * ex + m_panY * ey + m_distance * ez;
    return translation(m_rotationCenter) * m_base * translation(shift) * rotation(ez, m_roll) *
           rotation(ex, m_angleX) * rotation(ey, m_angleY) * translation(-m_rotationCenter);
}

GlMatrix Interaction3D::cameraMatrix() const
{
    GlMatrix matrix;
    Eigen::Map<Eigen::Matrix4d>(matrix.data()) = pose();
    return matrix;
}

void Interaction3D::pushCamera()
{
    GlMatrix matrix;
    Eigen::Map<Eigen::Matrix4d>(matrix.data()) = pose().inverse();
    m_view->glView()->setMatrix(matrix);
}

double Interaction3D::distanceFactor() const
{
    const Eigen::Matrix4d camera = pose().inverse();
    const Eigen::Vector3d position = camera.block<3, 1>(0, 3);
    const Eigen::Vector3d viewingAxis = camera.block<3, 3>(0, 0) * Eigen::Vector3d::UnitZ();
    const double d = position.dot(viewingAxis) / 1000.0;
    return d > 1.0 ? d : 1.0;
}

bool Interaction3D::handleEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!isCameraButton(mouse->button()))
            return false;
        press(*mouse);
        break;
    }
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!isCameraButton(mouse->button()))
            return false;
        bakeTransform();
        m_pressedButtons &= ~mouse->button();
        break;
    }
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->buttons() == Qt::NoButton || (mouse->buttons() & ~m_pressedButtons))
            return false;
        move(*mouse);
        break;
    }
    case QEvent::Wheel:
        wheel(*static_cast<QWheelEvent*>(event));
        break;
    default:
        return false;
    }
    event->accept();
    return true;
}

void Interaction3D::press(const QMouseEvent& event)
{
    m_lastX = event.x();
    m_lastY = event.y();
    m_pressedButtons |= event.button();
    if (event.button() != Qt::LeftButton)
        return;
    const QRect rect = m_view->rect();
    const double hx = (rect.right() - rect.left() + 1) * 0.5;
    const double hy = (rect.bottom() - rect.top() + 1) * 0.5;
    const double cx = rect.left() + hx;
    const double cy = rect.top() + hy;
    const double nx = hx > 0.0 ? (event.x() - cx) / hx : 0.0;
    const double ny = hy > 0.0 ? (event.y() - cy) / hy : 0.0;
    m_rollMode = std::abs(nx) > 0.75 || std::abs(ny) > 0.75;
    m_rollAxis = std::abs(ny) > std::abs(nx) ? 1 : -1;
    const bool before = m_rollAxis == -1 ? cx > event.x() : cy > event.y();
    m_rollSign = before ? 1.0 : -1.0;
}

void Interaction3D::move(const QMouseEvent& event)
{
    const int dx = event.x() - m_lastX;
    const int dy = event.y() - m_lastY;
    const double f = distanceFactor();
    switch (event.buttons()) {
    case Qt::LeftButton:
        if (m_rollMode) {
            m_roll += (m_rollAxis == 1 ? dx : -dy) * m_rollSign * m_rotationSpeed;
        } else {
            m_angleX -= dy * m_rotationSpeed;
            m_angleY += dx * m_rotationSpeed;
        }
        break;
    case Qt::RightButton:
        m_panX += dx * f * m_panSpeed;
        m_panY += dy * f * m_panSpeed;
        break;
    case Qt::MiddleButton:
        m_distance += dy * f * m_zoomSpeed;
        break;
    default:
        break;
    }
    m_lastX = event.x();
    m_lastY = event.y();
    pushCamera();
}

void Interaction3D::wheel(const QWheelEvent& event)
{
    m_distance += event.angleDelta().y() * 0.5 * distanceFactor() * m_zoomSpeed;
    pushCamera();
    bakeTransform();
}

}  // namespace Veltrane
