#include "render/FancyMeshManipulator.h"

#include "DisplayTestSupport.h"
#include "RenderTestSupport.h"
#include "core/Mesh.h"
#include "render/GlBoundingBox.h"
#include "render/GlMesh.h"
#include "render/GlMeshView.h"
#include "render/Interaction3D.h"
#include "render/InteractiveView.h"
#include "render/ViewLayout.h"

#include <Eigen/Geometry>

#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace Veltrane {
namespace {

using Eigen::Matrix4d;
using Eigen::Vector3d;

Matrix4d asEigen(const GlMatrix& m)
{
    return Eigen::Map<const Matrix4d>(m.data());
}

/// A mesh view filling a 500 x 500 display widget, looking obliquely at a box
/// of 1000 mm around the origin, with a manipulator on the box (handles 200
/// long) and a camera interaction behind it.
class FancyMeshManipulatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(harness.ready());
        meshView = new GlMeshView;
        view = new InteractiveView(meshView);
        box.setExtent({1000, 1000, 1000});
        meshView->addObject(&box);
        meshView->addObject(&manipulator);
        view->setManipulator(&box, &manipulator);
        camera = std::make_unique<Interaction3D>(view);
        view->interaction = camera.get();
        harness.widget().addView(view);
        lookFrom({750, -600, -1250});
    }

    void lookFrom(const GlVector& eye, const GlVector& target = {0, 0, 0})
    {
        meshView->setMatrix(viewMatrixLookingAt(eye, target));
        harness.paint();
    }

    /// Where a world point shows in the widget (window coordinates, rounded
    /// to the pixel).
    QPoint at(const Vector3d& world) const
    {
        Eigen::Vector3d window;
        EXPECT_TRUE(meshView->viewState().project(world.data(), window.data()));
        return QPoint(static_cast<int>(std::lround(window.x())),
                      static_cast<int>(std::lround(window.y())));
    }

    Eigen::Vector2d projected(const Vector3d& world) const
    {
        Eigen::Vector3d window;
        meshView->viewState().project(world.data(), window.data());
        return window.head<2>();
    }

    Matrix4d boxMatrix() const { return asEigen(box.matrix()); }

    DisplayHarness harness{500, 500};
    GlBoundingBox box;
    FancyMeshManipulator manipulator{&box};
    GlMeshView* meshView = nullptr;
    InteractiveView* view = nullptr;
    std::unique_ptr<Interaction3D> camera;
};

TEST_F(FancyMeshManipulatorTest, HandlesArePickedWithinTheirBoxes)
{
    // A point `distance` from the x axis at x, off to the side as seen from
    // the eye, so that the line through it runs beside the handle.
    const Vector3d eye(750, -600, -1250);
    const auto beside = [&](double x, double distance) {
        const Vector3d onAxis(x, 0, 0);
        return Vector3d(onAxis + distance * Vector3d::UnitX().cross(eye - onAxis).normalized());
    };
    const struct {
        int handleSet;
        Vector3d point;
        int dragMode;
    } cases[] = {
        // Arrows 200 long with heads 40 long: boxes 240 long and 20 thick
        // (up to 14 from the axis seen from an angle).
        {ManipulatorHandleSet::Translate, {20, 0, 0}, ManipulatorDragMode::TranslateX},
        {ManipulatorHandleSet::Translate, {232, 0, 0}, ManipulatorDragMode::TranslateX},
        {ManipulatorHandleSet::Translate, {252, 0, 0}, ManipulatorDragMode::None},
        {ManipulatorHandleSet::Translate, beside(100, 5), ManipulatorDragMode::TranslateX},
        {ManipulatorHandleSet::Translate, beside(100, 18), ManipulatorDragMode::None},
        {ManipulatorHandleSet::Translate, {0, -150, 0}, ManipulatorDragMode::TranslateY},
        {ManipulatorHandleSet::Translate, {0, 150, 0}, ManipulatorDragMode::None},
        {ManipulatorHandleSet::Translate, {0, 0, 150}, ManipulatorDragMode::TranslateZ},
        // Scale boxes are twice as thick.
        {ManipulatorHandleSet::Scale, beside(100, 16), ManipulatorDragMode::ScaleX},
        {ManipulatorHandleSet::Scale, beside(100, 32), ManipulatorDragMode::None},
        {ManipulatorHandleSet::Scale, {0, -230, 0}, ManipulatorDragMode::ScaleY},
        {ManipulatorHandleSet::None, {100, 0, 0}, ManipulatorDragMode::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "set " << c.handleSet << " at " << c.point.transpose());
        manipulator.handleSet = c.handleSet;
        harness.press(Qt::LeftButton, at(c.point));
        EXPECT_EQ(manipulator.dragMode(), c.dragMode);
        harness.release(Qt::LeftButton, at(c.point));
        EXPECT_EQ(manipulator.dragMode(), ManipulatorDragMode::None);
        EXPECT_EQ(box.matrix(), identityGlMatrix());
    }
}

TEST_F(FancyMeshManipulatorTest, ATranslateDragKeepsTheGrabbedPointUnderThePointer)
{
    const struct {
        Vector3d grabbed;
        Vector3d shift;
    } cases[] = {
        {{160, 0, 0}, {300, 0, 0}},
        {{0, -150, 0}, {0, -250, 0}},
        {{0, 0, 150}, {0, 0, -200}},
    };
    manipulator.handleSet = ManipulatorHandleSet::Translate;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shift.transpose());
        box.setMatrix(identityGlMatrix());
        harness.paint();
        const QPoint from = at(c.grabbed);
        harness.press(Qt::LeftButton, from);
        harness.move(from);
        EXPECT_TRUE(boxMatrix().isApprox(Matrix4d::Identity(), 1e-12));  // no jump
        for (int step = 1; step <= 5; ++step)
            harness.move(at(c.grabbed + c.shift * step / 5.0));
        const Matrix4d moved = boxMatrix();
        EXPECT_TRUE(moved.topLeftCorner(3, 3).isIdentity());
        EXPECT_LT((moved.col(3).head<3>() - c.shift).norm(), 6.0);  // a pixel is about 4 mm
        EXPECT_NEAR(moved.col(3).head<3>().norm(), moved.col(3).head<3>().dot(c.shift.normalized()),
                    1e-9);  // along the axis only
        // Back at the press the box is where it started.
        harness.move(from);
        EXPECT_LT((boxMatrix() - Matrix4d::Identity()).norm(), 1e-9);
        harness.move(at(c.grabbed + c.shift));
        harness.release(Qt::LeftButton, at(c.grabbed + c.shift));
        EXPECT_TRUE(boxMatrix().isApprox(moved, 1e-12));  // the release keeps it
    }
}

TEST_F(FancyMeshManipulatorTest, AQuarterTurnAroundTheCentreTurnsNinetyDegrees)
{
    // The box sits off the origin; the rings sit on its centre.
    GlMatrix placed = identityGlMatrix();
    placed[12] = 100;
    placed[13] = 50;
    placed[14] = -80;
    box.setMatrix(placed);
    const Vector3d center(100, 50, -80);
    lookFrom({850, -550, -1330}, {100, 50, -80});
    manipulator.handleSet = ManipulatorHandleSet::Rotate;

    // A point of the z ring on the half facing the viewer.
    const Vector3d toEye = Vector3d(750, -600, -1250).normalized();
    const Vector3d onRing = center + 200 * Vector3d(toEye.x(), toEye.y(), 0).normalized();
    const QPoint from = at(onRing);
    harness.press(Qt::LeftButton, from);
    ASSERT_EQ(manipulator.dragMode(), ManipulatorDragMode::RotateZ);

    // Counter-clockwise on the screen, a quarter of the way round the centre.
    const Eigen::Vector2d c = projected(center);
    const Eigen::Vector2d start = Eigen::Vector2d(from.x(), from.y()) - c;
    QPoint last;
    for (int step = 1; step <= 6; ++step) {
        const Eigen::Vector2d turned = Eigen::Rotation2Dd(M_PI / 2 * step / 6) * start + c;
        last = QPoint(static_cast<int>(std::lround(turned.x())),
                      static_cast<int>(std::lround(turned.y())));
        harness.move(last);
    }
    harness.release(Qt::LeftButton, last);

    const Matrix4d turned = boxMatrix();
    const Eigen::AngleAxisd rotation(Eigen::Matrix3d(turned.topLeftCorner(3, 3)));
    EXPECT_NEAR(rotation.angle() * 180 / M_PI, 90.0, 1.5);
    EXPECT_NEAR(std::abs(rotation.axis().z()), 1.0, 1e-9);
    EXPECT_LT((turned.col(3).head<3>() - center).norm(), 1e-9);  // about the centre
    // The ring point went round the way the pointer did.
    const Eigen::Vector2d before = projected(onRing) - c;
    const Eigen::Vector2d after =
        projected((turned * asEigen(placed).inverse() * onRing.homogeneous()).head<3>()) - c;
    const double swept = std::atan2(before.x() * after.y() - before.y() * after.x(),
                                    before.dot(after));
    EXPECT_GT(swept, 0.0);
}

TEST_F(FancyMeshManipulatorTest, AScaleDragGrowsTheBoxOutwardAlongItsHandle)
{
    manipulator.handleSet = ManipulatorHandleSet::Scale;
    const struct {
        const char* name;
        Vector3d handle;  ///< a point on the handle, then 50 % further out
        int axis;
    } cases[] = {
        {"x", {160, 0, 0}, 0},
        {"y, pointing along -y", {0, -160, 0}, 1},
        {"z", {0, 0, 160}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        box.setMatrix(identityGlMatrix());
        const QPoint from = at(c.handle);
        const QPoint to = at(c.handle * 1.5);
        harness.press(Qt::LeftButton, from);
        harness.move(to);
        const Matrix4d scaled = boxMatrix();
        const GlViewState& state = meshView->viewState();
        Vector3d pressNear, pointerNear;
        const double pressWindow[3] = {double(from.x()), double(from.y()), 0.0};
        const double pointerWindow[3] = {double(to.x()), double(to.y()), 0.0};
        state.unproject(pressWindow, pressNear.data());
        state.unproject(pointerWindow, pointerNear.data());
        // k: how far the pointer moved along the handle on the near plane.
        const double k = (pointerNear - pressNear).dot(c.handle.normalized());
        EXPECT_GT(k, 0.0);
        Eigen::Vector3d factors = Eigen::Vector3d::Ones();
        factors[c.axis] = std::exp(0.1 * k);
        EXPECT_TRUE(scaled.topLeftCorner(3, 3).isApprox(Eigen::Matrix3d(factors.asDiagonal()), 1e-9));
        EXPECT_GT(factors[c.axis], 1.0);
        EXPECT_LT(scaled.col(3).head<3>().norm(), 1e-9);  // about the centre
        harness.move(from);
        EXPECT_TRUE(boxMatrix().isApprox(Matrix4d::Identity(), 1e-12));
        harness.release(Qt::LeftButton, from);
    }
}

TEST_F(FancyMeshManipulatorTest, TheRightButtonOrEscapePutTheBoxBackExactly)
{
    // A filter view before the box's view swallows keys: Escape must still
    // reach the drag.
    InteractionFilter filter(0);
    auto* filtered = new InteractiveView(new CountingView);
    filtered->interaction = &filter;
    harness.widget().addView(filtered, 0);
    harness.widget().setLayoutMode(ViewLayoutMode::Rows);
    harness.widget().layout();
    harness.paint();

    GlMatrix placed = identityGlMatrix();
    placed[12] = 30;
    manipulator.handleSet = ManipulatorHandleSet::Translate;
    for (const bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "Escape" : "right button");
        box.setMatrix(placed);
        harness.paint();
        const QPoint from = at({190, 0, 0});
        harness.press(Qt::LeftButton, from);
        ASSERT_EQ(manipulator.dragMode(), ManipulatorDragMode::TranslateX);
        harness.move(from + QPoint(40, 10));
        harness.move(from + QPoint(80, 20));
        ASSERT_NE(box.matrix(), placed);
        const GlMatrix cameraBefore = meshView->matrix();
        if (escape) {
            harness.key(Qt::Key_Escape);
        } else {
            harness.press(Qt::RightButton, from + QPoint(80, 20));
            harness.release(Qt::RightButton, from + QPoint(80, 20));
        }
        EXPECT_EQ(box.matrix(), placed);
        EXPECT_EQ(manipulator.dragMode(), ManipulatorDragMode::None);
        // The left button is still down: moving on turns neither box nor camera.
        harness.move(from + QPoint(120, 30));
        harness.release(Qt::LeftButton, from + QPoint(120, 30));
        EXPECT_EQ(box.matrix(), placed);
        EXPECT_EQ(meshView->matrix(), cameraBefore);
    }
}

TEST_F(FancyMeshManipulatorTest, MissesAndAnInactiveManipulatorLeaveTheMouseToTheCamera)
{
    manipulator.handleSet = ManipulatorHandleSet::Translate;
    const Vector3d onArrow(120, 0, 0);
    QTemporaryDir folder;
    const QString path = folder.filePath("arrows.png");
    harness.widget().saveScreenshot(path);
    const auto red = [&](const QString& picture) {
        const QImage image(picture);
        const QPoint p = at(onArrow);
        const QColor color = image.pixelColor(p.x(), image.height() - 1 - p.y());
        return color.red() > 200 && color.green() < 60 && color.blue() < 60;
    };
    EXPECT_TRUE(red(path));

    for (const bool active : {true, false}) {
        SCOPED_TRACE(active ? "a miss" : "inactive");
        manipulator.active = active;
        lookFrom({750, -600, -1250});
        const GlMatrix cameraBefore = meshView->matrix();
        const QPoint from = active ? at({-300, 300, 0}) : at(onArrow);
        harness.drag(Qt::LeftButton, from, from + QPoint(30, 0));
        EXPECT_EQ(box.matrix(), identityGlMatrix());
        EXPECT_NE(meshView->matrix(), cameraBefore);
    }
    // Inactive, nothing is drawn.
    lookFrom({750, -600, -1250});
    harness.widget().saveScreenshot(path);
    EXPECT_FALSE(red(path));
}

TEST_F(FancyMeshManipulatorTest, HandlesBehindTheEyeCannotBePicked)
{
    manipulator.handleSet = ManipulatorHandleSet::Translate;
    // Looking away from the box: the x arrow lies behind the eye, on the line
    // through the pointer.
    const Vector3d eye(0, 0, -1500);
    lookFrom({0, 0, -1500}, {0, 0, -3000});
    const Vector3d arrow(120, 0, 0);
    const QPoint mirrored = at(eye - (arrow - eye) * 0.5);
    harness.press(Qt::LeftButton, mirrored);
    EXPECT_EQ(manipulator.dragMode(), ManipulatorDragMode::None);
    harness.release(Qt::LeftButton, mirrored);
}

TEST_F(FancyMeshManipulatorTest, TheFarHalfOfARingCannotBePicked)
{
    manipulator.handleSet = ManipulatorHandleSet::Rotate;
    const Vector3d toEye = Vector3d(750, -600, -1250).normalized();
    const Vector3d facing = 200 * Vector3d(toEye.x(), toEye.y(), 0).normalized();
    for (const double side : {1.0, -1.0}) {
        harness.press(Qt::LeftButton, at(side * facing));
        EXPECT_EQ(manipulator.dragMode(),
                  side > 0 ? ManipulatorDragMode::RotateZ : ManipulatorDragMode::None);
        harness.release(Qt::LeftButton, at(side * facing));
    }
}

/// Whether a pixel within one of the window point `at` (y upwards) of
/// `image` is clearly red (channel 0), green (1) or blue (2): thin handles
/// blend with what lies under them.
bool tintedNearby(const QImage& image, const QPoint& at, int channel)
{
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const QColor c = image.pixelColor(at.x() + dx, image.height() - 1 - at.y() - dy);
            const int rgb[3] = {c.red(), c.green(), c.blue()};
            if (rgb[channel] > rgb[(channel + 1) % 3] + 60 &&
                rgb[channel] > rgb[(channel + 2) % 3] + 60)
                return true;
        }
    }
    return false;
}

TEST(FancyMeshManipulatorPictureTest, HandlesOnAMesh)
{
    const std::unique_ptr<Mesh> sphere = fusedSphereMesh(40, 15.0);
    const Eigen::Vector3d center = sphere->boundingBoxCenter();
    std::vector<std::unique_ptr<FancyMeshManipulator>> manipulators;

    DisplayHarness harness(800, 600);
    ASSERT_TRUE(harness.ready());
    DisplayWidget& widget = harness.widget();
    widget.setLayoutMode(ViewLayoutMode::Rows);
    widget.setBackgroundColor(QColor(153, 153, 153));
    const int sets[] = {ManipulatorHandleSet::Translate, ManipulatorHandleSet::Rotate,
                        ManipulatorHandleSet::Scale, ManipulatorHandleSet::Rotate};
    std::vector<GlMeshView*> scenes;
    for (const int set : sets) {
        auto* scene = new GlMeshView;
        scene->mesh->mesh = sphere.get();
        scene->mesh->setMesh();
        manipulators.push_back(std::make_unique<FancyMeshManipulator>(scene->mesh.get()));
        manipulators.back()->handleSet = set;
        scene->addObject(manipulators.back().get());
        scene->setMatrix(viewMatrixLookingAt({center.x() + 14, center.y() - 12, center.z() - 24},
                                             {center.x(), center.y(), center.z()}));
        auto* view = new InteractiveView(scene);
        view->setManipulator(scene->mesh.get(), manipulators.back().get());
        widget.addView(view);
        scenes.push_back(scene);
    }
    harness.paint();

    const auto at = [](const GlMeshView* scene, const Eigen::Vector3d& world) {
        Eigen::Vector3d window;
        scene->viewState().project(world.data(), window.data());
        return QPoint(static_cast<int>(std::lround(window.x())),
                      static_cast<int>(std::lround(window.y())));
    };
    // The last view turns the mesh a little about z, with the drag still on.
    const double size = 30.0 / 5;  // the sphere's extent is about 30
    const Eigen::Vector3d toEye = Eigen::Vector3d(14, -12, -24).normalized();
    const Eigen::Vector3d onRing =
        center + size * Eigen::Vector3d(toEye.x(), toEye.y(), 0).normalized();
    const QPoint from = at(scenes[3], onRing);
    harness.press(Qt::LeftButton, from);
    ASSERT_EQ(manipulators[3]->dragMode(), ManipulatorDragMode::RotateZ);
    harness.move(from + QPoint(-30, 40));

    QTemporaryDir folder;
    const QString path = folder.filePath("handles.png");
    widget.saveScreenshot(path);
    widget.saveScreenshot(QString::fromStdString(screenshotPath("manipulator_on_mesh")));
    harness.release(Qt::LeftButton, from + QPoint(-30, 40));
    EXPECT_NE(scenes[3]->mesh->matrix(), identityGlMatrix());

    const QImage image(path);
    const double half = size / 2;
    EXPECT_TRUE(tintedNearby(image, at(scenes[0], center + Eigen::Vector3d(half, 0, 0)), 0));
    EXPECT_TRUE(tintedNearby(image, at(scenes[0], center + Eigen::Vector3d(0, -half, 0)), 1));
    EXPECT_TRUE(tintedNearby(image, at(scenes[2], center + Eigen::Vector3d(0, 0, size)), 2));
    EXPECT_TRUE(tintedNearby(image, at(scenes[1], onRing), 2));
    // The far half of the z ring is not drawn.
    EXPECT_FALSE(tintedNearby(image, at(scenes[1], 2 * center - onRing), 2));
}

}  // namespace
}  // namespace Veltrane
