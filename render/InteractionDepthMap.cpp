#include "render/InteractionDepthMap.h"

#include "reconstruction/ReconstructionParameters.h"

#include <boost/signals2/shared_connection_block.hpp>

#include <QMouseEvent>

#include <cmath>

namespace Veltrane {
namespace {

bool isDragButton(Qt::MouseButton button)
{
    return button == Qt::LeftButton || button == Qt::RightButton || button == Qt::MiddleButton;
}

}  // namespace

InteractionDepthMap::InteractionDepthMap(ReconstructionParameters* parameters)
    : m_parameters(parameters)
{
    reset();
    m_connection = m_parameters->connect([this] { reset(); });
}

InteractionDepthMap::~InteractionDepthMap() = default;

void InteractionDepthMap::reset()
{
    const std::array<double, 16> pose = m_parameters->volumePose();
    m_x = pose[12];
    m_y = -pose[13];
    m_z = pose[14];
    m_scale = 1.0;
}

bool InteractionDepthMap::handleEvent(QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseMove)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseMove) {
        if (mouse->buttons() == Qt::NoButton || (mouse->buttons() & ~m_pressedButtons))
            return false;
        move(mouse->x(), mouse->y(), mouse->buttons());
    } else if (!isDragButton(mouse->button())) {
        return false;
    } else if (type == QEvent::MouseButtonPress) {
        m_lastX = mouse->x();
        m_lastY = mouse->y();
        m_pressedButtons |= mouse->button();
    } else {
        m_pressedButtons &= ~mouse->button();
    }
    event->accept();
    return true;
}

void InteractionDepthMap::move(int x, int y, Qt::MouseButtons buttons)
{
    const int dx = x - m_lastX;
    const int dy = y - m_lastY;
    switch (buttons) {
    case Qt::LeftButton:
        m_x += dx * m_speed;
        m_y += dy * m_speed;
        break;
    case Qt::RightButton:
        m_z += dy * 2.0 * m_speed;
        break;
    case Qt::MiddleButton:
        m_scale *= std::exp(dy * 0.01);
        break;
    default:
        break;
    }
    m_lastX = x;
    m_lastY = y;

    // Our own writes must not call reset() back.
    const boost::signals2::shared_connection_block block(m_connection);
    std::array<double, 16> pose = m_parameters->volumePose();
    pose[12] = m_x;
    pose[13] = -m_y;
    pose[14] = m_z;
    m_parameters->setVolumePose(pose);
    std::array<double, 3> size = m_parameters->volumeSize;
    for (double& edge : size)
        edge *= m_scale;
    m_parameters->setVolumeSize(size);
    m_scale = 1.0;
}

}  // namespace Veltrane
