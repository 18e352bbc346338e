#pragma once

#include "render/Interaction.h"

#include <boost/signals2/connection.hpp>

#include <Qt>

namespace Veltrane {

class ReconstructionParameters;

/// The interaction of the live depth-image view: dragging places the
/// reconstruction volume in front of the camera. A left drag moves it across
/// the picture (1 mm per pixel), a right drag moves it nearer or further
/// (2 mm per pixel upwards), a middle drag scales it (by e every 100 pixels
/// upwards). Every move writes the volume pose and size into the parameters,
/// which refuse both while they are locked; changes of the parameters made
/// elsewhere are followed. A drag acts only when its press reached this
/// interaction.
class InteractionDepthMap : public Interaction {
public:
    /// `parameters` is not owned and must outlive the interaction.
    explicit InteractionDepthMap(ReconstructionParameters* parameters);
    ~InteractionDepthMap() override;

    bool handleEvent(QEvent* event) override;
    /// Takes the volume position from the parameters' volume pose.
    void reset() override;

private:
    void move(int x, int y, Qt::MouseButtons buttons);

    double m_x = 0.0;  ///< volume position, y upwards on the screen
    double m_y = 0.0;
    double m_z = 0.0;
    double m_scale = 1.0;  ///< size factor not yet written
    int m_lastX = 0;
    int m_lastY = 0;
    double m_speed = 1.0;  ///< mm per pixel
    Qt::MouseButtons m_pressedButtons;  ///< held buttons whose press reached us
    ReconstructionParameters* m_parameters;
    boost::signals2::scoped_connection m_connection;
};

}  // namespace Veltrane
