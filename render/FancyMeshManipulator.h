#pragma once

#include "render/GlObject.h"
#include "render/Manipulator.h"

#include <Eigen/Core>

class QMouseEvent;

namespace Veltrane {

class Gl3DObject;
class GlViewState;

/// Which handles a `FancyMeshManipulator` shows.
namespace ManipulatorHandleSet {
constexpr int None = 0;
constexpr int Translate = 1;  ///< arrows
constexpr int Rotate = 2;     ///< rings
constexpr int Scale = 3;      ///< arrows ending in boxes
}  // namespace ManipulatorHandleSet

/// What a `FancyMeshManipulator` drag does.
namespace ManipulatorDragMode {
constexpr int None = 0;
constexpr int TranslateX = 1;
constexpr int TranslateY = 2;
constexpr int TranslateZ = 3;
constexpr int RotateX = 4;
constexpr int RotateY = 5;
constexpr int RotateZ = 6;
constexpr int ScaleX = 7;
constexpr int ScaleY = 8;
constexpr int ScaleZ = 9;
}  // namespace ManipulatorDragMode

/// On-screen handles that move, turn and scale one object of a 3-D view with
/// the left mouse button: arrows along x, -y and z move it along that world
/// axis, rings about x, y and z turn it about its centre, boxes on the arrows
/// scale it along that axis about its centre. Handles sit at the object's
/// centre and are a fifth of its largest extent long; they are drawn on top
/// of the scene, the rings only on the half facing the viewer.
///
/// A drag writes the object's matrix on every move, always computed from the
/// matrix at the press and the current pointer, so moving back to where the
/// drag began gives the press's matrix again. Releasing the left button keeps
/// the result; the right button or Escape puts the press's matrix back.
///
/// The manipulator is registered in the interactive view under its target
/// (so it gets the view's events first) and added to the same view's objects
/// (so the view draws its handles after the objects before it). Picking uses
/// the view state of the view's last render.
class FancyMeshManipulator : public Manipulator, public GlObject {
public:
    /// `target` is not owned and must outlive the manipulator.
    explicit FancyMeshManipulator(Gl3DObject* target);
    ~FancyMeshManipulator() override;

    /// Consumes a left press on a handle of the current set and everything
    /// of the drag it starts; nothing while inactive.
    bool handleEvent(QEvent* event, GlView* view) override;
    /// Draws the current handles; nothing while inactive.
    void draw() override;

    int dragMode() const { return m_dragMode; }

    /// A `ManipulatorHandleSet`; a drag in progress keeps its mode when it
    /// changes.
    int handleSet = ManipulatorHandleSet::None;
    /// An inactive manipulator draws nothing and consumes nothing.
    bool active = true;

private:
    struct Ray;

    Eigen::Vector3d handleCenter() const;
    double handleSize() const;
    /// The handle under the pointer: its drag mode, or None.
    int pick(const Ray& ray, const GlViewState& state, const Eigen::Vector2d& window);
    int pickArrowOrBox(const Ray& ray, double thickness, int firstMode) const;
    int pickRing(const Ray& ray, const GlViewState& state, const Eigen::Vector2d& window);
    bool press(const QMouseEvent& event, const GlViewState& state);
    void dragTo(const Eigen::Vector2d& window, const GlViewState& state);
    void cancel();

    void drawArrows(double size, bool withBoxes) const;
    void drawRings(double size, const Eigen::Vector3d& toViewer) const;
    void drawRotateDrag(double size) const;
    void drawAxisLine(const Eigen::Vector3d& axis, const Eigen::Vector3d& color) const;

    Gl3DObject* m_target;
    int m_dragMode = ManipulatorDragMode::None;
    Eigen::Vector2d m_pressPos = Eigen::Vector2d::Zero();
    GlMatrix m_savedMatrix = identityGlMatrix();
    Eigen::Vector3d m_grabPoint = Eigen::Vector3d::Zero();
    Eigen::Vector3d m_translateAxis = Eigen::Vector3d::Zero();
    Eigen::Vector3d m_mouseNearPoint = Eigen::Vector3d::Zero();
    Eigen::Vector3d m_rotationAxis = Eigen::Vector3d::Zero();
    Eigen::Vector3d m_scaleAxis = Eigen::Vector3d::Zero();
};

}  // namespace Veltrane
