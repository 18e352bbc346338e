#include "render/FancyMeshManipulator.h"

#include "render/GlAnnotation.h"
#include "render/GlView.h"
#include "render/ManipulatorGeometry.h"

#include <GL/glew.h>

#include <Eigen/Geometry>
#include <Eigen/LU>

#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
#include <cmath>
#include <utility>

namespace Veltrane {
namespace {

using ConstMatrixMap = Eigen::Map<const Eigen::Matrix4d>;

/// How near to the pointer a ring must pass, in window pixels, to be picked.
constexpr double kPickRadiusPixels = 5.0;
/// Half the length of the guide line drawn along a drag's axis.
constexpr double kGuideLength = 100000.0;

/// Direction of the handles of each drag mode, indexed by mode.
const Eigen::Vector3d kAxes[10] = {
    {0, 0, 0},                          // none
    {1, 0, 0}, {0, -1, 0}, {0, 0, 1},   // translate
    {1, 0, 0}, {0, 1, 0},  {0, 0, 1},   // rotate
    {1, 0, 0}, {0, -1, 0}, {0, 0, 1}};  // scale

bool isTranslate(int mode) { return mode >= ManipulatorDragMode::TranslateX && mode <= ManipulatorDragMode::TranslateZ; }
bool isRotate(int mode) { return mode >= ManipulatorDragMode::RotateX && mode <= ManipulatorDragMode::RotateZ; }

Eigen::Vector3d unproject(const GlViewState& state, const Eigen::Vector2d& window, double depth)
{
    const double in[3] = {window.x(), window.y(), depth};
    Eigen::Vector3d out = Eigen::Vector3d::Zero();
    state.unproject(in, out.data());
    return out;
}

/// The direction from the scene toward the viewer, in world coordinates, for
/// the modelview matrix `modelview`.
Eigen::Vector3d towardViewer(const Eigen::Matrix4d& modelview)
{
    return (modelview.inverse() * Eigen::Vector4d(0, 0, 1, 0)).head<3>().normalized();
}

Eigen::Vector3d transformPoint(const GlMatrix& matrix, const GlVector& point)
{
    return (ConstMatrixMap(matrix.data()) * Eigen::Vector4d(point[0], point[1], point[2], 1.0))
        .head<3>();
}

/// `linear` applied about `center` after `matrix`.
GlMatrix aboutPoint(const Eigen::Matrix3d& linear, const Eigen::Vector3d& center,
                    const GlMatrix& matrix)
{
    Eigen::Affine3d change = Eigen::Translation3d(center) * Eigen::Affine3d(linear) *
                             Eigen::Translation3d(-center);
    GlMatrix result;
    Eigen::Map<Eigen::Matrix4d>(result.data()) = change.matrix() * ConstMatrixMap(matrix.data());
    return result;
}

/// Two unit vectors that span the plane perpendicular to `n`.
std::pair<Eigen::Vector3d, Eigen::Vector3d> perpendicularBasis(const Eigen::Vector3d& n)
{
    Eigen::Vector3d u = n.cross(Eigen::Vector3d::UnitX());
    if (u.norm() < 1e-12)
        u = n.cross(Eigen::Vector3d::UnitZ());
    u.normalize();
    return {u, n.cross(u).normalized()};
}

void vertex(const Eigen::Vector3d& v) { glVertex3dv(v.data()); }

/// The circle of `center`, `normal` and `radius` in 1-degree segments; only
/// the segments whose end lies on the side of the centre away from `facing`
/// (all of them when `facing` is zero).
void drawRing(const Eigen::Vector3d& center, const Eigen::Vector3d& normal, double radius,
              const Eigen::Vector3d& facing)
{
    const auto [u, w] = perpendicularBasis(normal);
    Eigen::Vector3d previous = center + radius * u;
    glBegin(GL_LINES);
    for (int degree = 1; degree <= 360; ++degree) {
        const double angle = degree * M_PI / 180.0;
        const Eigen::Vector3d point = center + radius * (u * std::cos(angle) + w * std::sin(angle));
        if ((point - center).dot(facing) <= 0.0) {
            vertex(previous);
            vertex(point);
        }
        previous = point;
    }
    glEnd();
}

/// An open cone whose base of `radius` is centred on `base` and whose apex
/// lies `length` further along `direction`.
void drawCone(const Eigen::Vector3d& base, const Eigen::Vector3d& direction, double radius,
              double length)
{
    const auto [u, w] = perpendicularBasis(direction);
    const Eigen::Vector3d apex = base + length * direction.normalized();
    Eigen::Vector3d previous = base + radius * u;
    glBegin(GL_TRIANGLES);
    for (int degree = 10; degree <= 360; degree += 10) {
        const double angle = degree * M_PI / 180.0;
        const Eigen::Vector3d point = base + radius * (u * std::cos(angle) + w * std::sin(angle));
        vertex(previous);
        vertex(point);
        vertex(apex);
        previous = point;
    }
    glEnd();
}

/// The axis-aligned cube of edge `size` centred on `center`.
void drawBox(const Eigen::Vector3d& center, double size)
{
    const double h = size / 2;
    // Each face: the axis it is perpendicular to and its side.
    glBegin(GL_QUADS);
    for (int axis = 0; axis < 3; ++axis) {
        for (const double side : {-h, h}) {
            const int a = (axis + 1) % 3;
            const int b = (axis + 2) % 3;
            const double corners[4][2] = {{-h, -h}, {h, -h}, {h, h}, {-h, h}};
            for (const auto& corner : corners) {
                Eigen::Vector3d v = center;
                v[axis] += side;
                v[a] += corner[0];
                v[b] += corner[1];
                vertex(v);
            }
        }
    }
    glEnd();
}

}  // namespace

/// The line under the pointer, from the eye into the scene.
struct FancyMeshManipulator::Ray {
    Ray(const GlViewState& state, const Eigen::Vector2d& window)
    {
        const Eigen::Matrix4d modelview = ConstMatrixMap(state.modelview.data());
        eye = modelview.inverse().col(3).head<3>();
        nearPoint = unproject(state, window, 0.0);
        direction = (nearPoint - eye).normalized();
        toViewer = towardViewer(modelview);
    }

    Eigen::Vector3d eye;
    Eigen::Vector3d nearPoint;
    Eigen::Vector3d direction;
    Eigen::Vector3d toViewer;
};

FancyMeshManipulator::FancyMeshManipulator(Gl3DObject* target) : m_target(target) {}

FancyMeshManipulator::~FancyMeshManipulator() = default;

Eigen::Vector3d FancyMeshManipulator::handleCenter() const
{
    return transformPoint(m_target->matrix(), m_target->center());
}

double FancyMeshManipulator::handleSize() const
{
    const GlVector extent = m_target->extent();
    return static_cast<float>(*std::max_element(extent.begin(), extent.end()) / 5.0);
}

bool FancyMeshManipulator::handleEvent(QEvent* event, GlView* view)
{
    if (!active || !view)
        return false;
    const GlViewState& state = view->viewState();
    const bool dragging = m_dragMode != ManipulatorDragMode::None;
    bool consumed = false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (dragging && mouse->button() == Qt::RightButton) {
            cancel();
            consumed = true;
        } else if (!dragging && mouse->button() == Qt::LeftButton) {
            consumed = press(*mouse, state);
        }
        break;
    }
    case QEvent::MouseMove:
        if (dragging) {
            dragTo(Eigen::Vector2d(static_cast<QMouseEvent*>(event)->x(),
                                   static_cast<QMouseEvent*>(event)->y()),
                   state);
            consumed = true;
        }
        break;
    case QEvent::MouseButtonRelease:
        if (dragging && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            m_dragMode = ManipulatorDragMode::None;
            consumed = true;
        }
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        if (dragging && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            cancel();
            consumed = true;
        }
        break;
    default:
        break;
    }
    if (consumed)
        event->accept();
    return consumed;
}

int FancyMeshManipulator::pick(const Ray& ray, const GlViewState& state,
                               const Eigen::Vector2d& window)
{
    const double size = handleSize();
    switch (handleSet) {
    case ManipulatorHandleSet::Translate:
        return pickArrowOrBox(ray, size / 10, ManipulatorDragMode::TranslateX);
    case ManipulatorHandleSet::Scale:
        return pickArrowOrBox(ray, size / 5, ManipulatorDragMode::ScaleX);
    case ManipulatorHandleSet::Rotate:
        m_mouseNearPoint = ray.nearPoint;
        return pickRing(ray, state, window);
    default:
        return ManipulatorDragMode::None;
    }
}

int FancyMeshManipulator::pickArrowOrBox(const Ray& ray, double thickness, int firstMode) const
{
    const Eigen::Vector3d p = handleCenter();
    const double length = 1.2 * handleSize();
    for (int axis = 0; axis < 3; ++axis) {
        const Eigen::Vector3d& direction = kAxes[firstMode + axis];
        Eigen::Vector3d size = Eigen::Vector3d::Constant(thickness);
        size[axis] = length;
        if (rayHitsBox(ray.eye, ray.direction, p + direction * (length / 2), size))
            return firstMode + axis;
    }
    return ManipulatorDragMode::None;
}

int FancyMeshManipulator::pickRing(const Ray& ray, const GlViewState& state,
                                   const Eigen::Vector2d& window)
{
    const Eigen::Vector3d p = handleCenter();
    const double size = handleSize();
    int nearest = 0;
    RingDistance best{};
    for (int axis = 0; axis < 3; ++axis) {
        const RingDistance candidate = ringDistance(ray.eye, ray.direction, p,
                                                    kAxes[ManipulatorDragMode::RotateX + axis], size);
        if (axis == 0 || candidate.distance < best.distance) {
            best = candidate;
            nearest = axis;
        }
    }
    double projected[3] = {};
    if (!state.project(best.ringPoint.data(), projected))
        return ManipulatorDragMode::None;
    const bool underPointer =
        (Eigen::Vector2d(projected[0], projected[1]) - window).norm() < kPickRadiusPixels;
    const bool facesViewer = (best.ringPoint - p).dot(ray.toViewer) > 0.0;
    const bool aheadOfEye = (best.ringPoint - ray.eye).dot(ray.toViewer) < 0.0;
    if (!underPointer || !facesViewer || !aheadOfEye)
        return ManipulatorDragMode::None;
    return ManipulatorDragMode::RotateX + nearest;
}

bool FancyMeshManipulator::press(const QMouseEvent& event, const GlViewState& state)
{
    const Eigen::Vector2d window(event.x(), event.y());
    const Ray ray(state, window);
    const int mode = pick(ray, state, window);
    if (mode == ManipulatorDragMode::None)
        return false;
    m_dragMode = mode;
    const Eigen::Vector3d& axis = kAxes[mode];
    if (isTranslate(mode))
        m_translateAxis = axis;
    else if (isRotate(mode))
        m_rotationAxis = axis;
    else
        m_scaleAxis = axis;
    m_pressPos = window;
    if (isTranslate(mode)) {
        const Eigen::Vector3d p = handleCenter();
        m_grabPoint = closestPointOnAxis(p, axis, unproject(state, window, 0.0),
                                         unproject(state, window, 1.0))
                          .value_or(p);
    }
    m_savedMatrix = m_target->matrix();
    return true;
}

void FancyMeshManipulator::dragTo(const Eigen::Vector2d& window, const GlViewState& state)
{
    const Eigen::Vector3d pressCenter = transformPoint(m_savedMatrix, m_target->center());
    if (isTranslate(m_dragMode)) {
        const auto grabbed =
            closestPointOnAxis(handleCenter(), m_translateAxis, unproject(state, window, 0.0),
                               unproject(state, window, 1.0));
        if (!grabbed)
            return;  // the pointer's line runs along the axis: keep the last position
        const Eigen::Vector3d shift =
            (*grabbed - m_grabPoint).dot(m_translateAxis) * m_translateAxis;
        Eigen::Affine3d moved(ConstMatrixMap(m_savedMatrix.data()));
        moved.pretranslate(shift);
        GlMatrix matrix;
        Eigen::Map<Eigen::Matrix4d>(matrix.data()) = moved.matrix();
        m_target->setMatrix(matrix);
    } else if (isRotate(m_dragMode)) {
        m_mouseNearPoint = unproject(state, window, 0.0);
        double center[3] = {};
        if (!state.project(pressCenter.data(), center))
            return;
        const Eigen::Vector2d from = m_pressPos - Eigen::Vector2d(center[0], center[1]);
        const Eigen::Vector2d to = window - Eigen::Vector2d(center[0], center[1]);
        if (from.norm() < 1e-9 || to.norm() < 1e-9)
            return;  // no direction at the centre itself
        double angle = std::atan2(to.y(), to.x()) - std::atan2(from.y(), from.x());
        if (m_rotationAxis.dot(towardViewer(ConstMatrixMap(state.modelview.data()))) <= 0.0)
            angle = -angle;
        m_target->setMatrix(aboutPoint(
            Eigen::AngleAxisd(angle, m_rotationAxis).toRotationMatrix(), pressCenter,
            m_savedMatrix));
    } else {
        const double k = (unproject(state, window, 0.0) - unproject(state, m_pressPos, 0.0))
                             .dot(m_scaleAxis);
        // Outward along the handle grows the object, whichever way the handle points.
        const Eigen::Vector3d factors = (0.1 * k * m_scaleAxis.cwiseAbs()).array().exp();
        m_target->setMatrix(aboutPoint(factors.asDiagonal(), pressCenter, m_savedMatrix));
    }
}

void FancyMeshManipulator::cancel()
{
    m_target->setMatrix(m_savedMatrix);
    m_dragMode = ManipulatorDragMode::None;
}

void FancyMeshManipulator::draw()
{
    if (!active)
        return;
    Eigen::Matrix4d modelview;
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview.data());
    const Eigen::Vector3d toViewer = towardViewer(modelview);
    const double size = handleSize();
    const bool dragging = m_dragMode != ManipulatorDragMode::None;

    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT | GL_LINE_BIT);
    glDisable(GL_DEPTH_TEST);  // handles stay on top of the scene
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_LINE_SMOOTH);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    switch (handleSet) {
    case ManipulatorHandleSet::Translate:
        drawArrows(size, false);
        if (dragging)
            drawAxisLine(m_translateAxis, m_translateAxis.cwiseAbs());
        break;
    case ManipulatorHandleSet::Rotate:
        if (dragging)
            drawRotateDrag(size);
        else
            drawRings(size, toViewer);
        break;
    case ManipulatorHandleSet::Scale:
        if (dragging)
            drawAxisLine(m_scaleAxis, m_scaleAxis.cwiseAbs());
        else
            drawArrows(size, true);
        break;
    default:
        break;
    }
    glPopAttrib();
}

void FancyMeshManipulator::drawArrows(double size, bool withBoxes) const
{
    const Eigen::Vector3d p = handleCenter();
    for (int axis = 0; axis < 3; ++axis) {
        const Eigen::Vector3d& direction = kAxes[ManipulatorDragMode::TranslateX + axis];
        const Eigen::Vector3d tip = p + size * direction;
        glColor3dv(Eigen::Vector3d::Unit(axis).eval().data());
        glBegin(GL_LINES);
        vertex(p);
        vertex(tip);
        glEnd();
        if (withBoxes)
            drawBox(tip, size / 10);
        else
            drawCone(tip, direction, size / 20, size / 5);
    }
}

void FancyMeshManipulator::drawRings(double size, const Eigen::Vector3d& toViewer) const
{
    const Eigen::Vector3d p = handleCenter();
    glColor3d(0.0, 0.0, 0.0);
    drawRing(p, -toViewer, size, Eigen::Vector3d::Zero());
    glLineWidth(2.0f);
    for (int axis = 0; axis < 3; ++axis) {
        glColor3dv(Eigen::Vector3d::Unit(axis).eval().data());
        drawRing(p, Eigen::Vector3d::Unit(axis), size, -toViewer);
    }
}

void FancyMeshManipulator::drawRotateDrag(double size) const
{
    const Eigen::Vector3d p = handleCenter();
    glColor3d(1.0, 0.5, 0.0);
    glBegin(GL_POINTS);
    vertex(p);
    glEnd();
    glLineWidth(1.0f);
    glColor3d(1.0, 1.0, 1.0);
    glBegin(GL_LINES);
    vertex(p);
    vertex(m_mouseNearPoint);
    glEnd();
    drawAxisLine(m_rotationAxis, m_rotationAxis);
    glLineWidth(2.0f);
    drawRing(p, m_rotationAxis, size, Eigen::Vector3d::Zero());
}

void FancyMeshManipulator::drawAxisLine(const Eigen::Vector3d& axis,
                                        const Eigen::Vector3d& color) const
{
    const Eigen::Vector3d p = handleCenter();
    glColor3dv(color.data());
    glBegin(GL_LINES);
    vertex(p + kGuideLength * axis);
    vertex(p - kGuideLength * axis);
    glEnd();
}

}  // namespace Veltrane
