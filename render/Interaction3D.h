#pragma once

#include "render/GlObject.h"
#include "render/Interaction.h"

#include <Eigen/Core>

#include <Qt>

class QMouseEvent;
class QWheelEvent;

namespace Veltrane {

class InteractiveView;

/// The camera of a 3-D view. A left drag turns the scene about the rotation
/// centre like a trackball (near the view's border it rolls about the viewing
/// axis instead), a right drag pans, a middle drag and the wheel move along
/// the viewing axis; pans and moves grow with the camera's distance beyond
/// 1000 mm. A drag acts only when its press reached this interaction, so a
/// drag begun elsewhere never makes the camera jump.
///
/// The camera pose (the matrix the views load as modelview, before their half
/// turn about x) is kept as a base matrix plus six increments along and about
/// the camera's axes, folded into the base when a drag ends. After every
/// change the view's GlView gets the inverse of the pose as its matrix.
class Interaction3D : public Interaction {
public:
    /// `view` and its GlView must exist and outlive the interaction. Pushes
    /// the initial camera (the identity) to the view.
    explicit Interaction3D(InteractiveView* view);

    bool handleEvent(QEvent* event) override;
    /// Identity base, zero increments and rotation centre; pushes the camera.
    void reset() override;

    /// Per-pixel factors of pan (mm), rotation (degrees) and zoom (mm; a
    /// negative zoom takes the pan factor). Nothing is pushed.
    void setSpeeds(double pan, double rotation, double zoom);
    /// Sets the pan increments and the distance along the viewing axis,
    /// keeping the angles; pushes the camera.
    void setTranslation(double x, double y, double distance);
    /// Turns about `center` from now on; the picture does not change.
    void setRotationCenter(const GlVector& center);
    /// Folds the increments into the base; the pose does not change.
    void bakeTransform();
    /// T(c) B T(pan, distance) Rz(roll) Rx(angleX) Ry(angleY) T(-c), with the
    /// increments along the camera axes of the base B and c the rotation
    /// centre.
    GlMatrix cameraMatrix() const;
    /// Gives the view's GlView the inverse of cameraMatrix().
    void pushCamera();

private:
    void press(const QMouseEvent& event);
    void move(const QMouseEvent& event);
    void wheel(const QWheelEvent& event);
    /// Pan and zoom factor: the camera's distance along its viewing axis in
    /// metres, at least 1.
    double distanceFactor() const;
    Eigen::Matrix4d pose() const;

    InteractiveView* m_view;
    double m_panX = 0.0;
    double m_panY = 0.0;
    double m_distance = 0.0;
    double m_angleX = 0.0;
    double m_angleY = 0.0;
    double m_roll = 0.0;
    int m_lastX = 0;
    int m_lastY = 0;
    double m_panSpeed = 0.1;
    double m_zoomSpeed = 0.1;
    double m_rotationSpeed = 0.1;
    Eigen::Vector3d m_rotationCenter = Eigen::Vector3d::Zero();
    Qt::MouseButtons m_pressedButtons;  ///< held buttons whose press reached us
    bool m_rollMode = false;
    double m_rollSign = 0.0;
    int m_rollAxis = 0;  ///< +1 pressed near the top or bottom, -1 near the sides
    Eigen::Matrix4d m_base = Eigen::Matrix4d::Identity();
};

}  // namespace Veltrane
