#include "render/Interaction3D.h"

#include "DisplayTestSupport.h"
#include "render/InteractiveView.h"
#include "render/ViewLayout.h"

#include <Eigen/Geometry>

#include <gtest/gtest.h>

namespace Veltrane {
namespace {

using Eigen::Matrix4d;

Matrix4d asEigen(const GlMatrix& m)
{
    return Eigen::Map<const Matrix4d>(m.data());
}

Matrix4d translation(double x, double y, double z)
{
    Matrix4d t = Matrix4d::Identity();
    t.block<3, 1>(0, 3) = Eigen::Vector3d(x, y, z);
    return t;
}

Matrix4d rotation(const Eigen::Vector3d& axis, double degrees)
{
    Matrix4d r = Matrix4d::Identity();
    r.block<3, 3>(0, 0) = Eigen::AngleAxisd(degrees * M_PI / 180.0, axis).toRotationMatrix();
    return r;
}

::testing::AssertionResult near(const Matrix4d& actual, const Matrix4d& expected, double tolerance)
{
    if ((actual - expected).cwiseAbs().maxCoeff() <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\n" << actual << "\nis not within " << tolerance
                                         << " of\n" << expected;
}

/// A 600 x 600 display widget whose one view fills it, with a camera.
class Interaction3DTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(harness.ready());
        view = new InteractiveView(new CountingView);
        harness.widget().addView(view);
        ASSERT_EQ(view->rect(), QRect(QPoint(0, 0), QPoint(599, 599)));
        camera = std::make_unique<Interaction3D>(view);
        view->interaction = camera.get();
    }

    Matrix4d pose() const { return asEigen(camera->cameraMatrix()); }

    DisplayHarness harness{600, 600};
    InteractiveView* view = nullptr;
    std::unique_ptr<Interaction3D> camera;
    const QPoint center{300, 300};
};

TEST_F(Interaction3DTest, TheViewShowsTheCameraFromTheStart)
{
    EXPECT_TRUE(near(asEigen(view->glView()->matrix()), Matrix4d::Identity(), 0.0));
    camera->setTranslation(0, 0, -6000);
    EXPECT_TRUE(near(asEigen(view->glView()->matrix()), translation(0, 0, 6000), 1e-9));
}

TEST_F(Interaction3DTest, PanningGrowsWithTheDistanceBeyondAMetre)
{
    const struct {
        double distance;
        double pan;  ///< for 10 pixels at pan speed 0.8
    } cases[] = {
        {-6000, 48.0},  // 6 m away: six times
        {-500, 8.0},    // close: once
        {500, 8.0},     // behind the camera: once
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.distance);
        camera->reset();
        camera->setSpeeds(0.8, 0.1, 1.333);
        camera->setTranslation(0, 0, c.distance);
        harness.drag(Qt::RightButton, center, center + QPoint(10, 0));
        harness.drag(Qt::RightButton, center, center + QPoint(0, -10));
        EXPECT_TRUE(near(pose(), translation(c.pan, -c.pan, c.distance), 1e-9));
        EXPECT_TRUE(
            near(asEigen(view->glView()->matrix()), pose().inverse(), 1e-9));
    }
}

TEST_F(Interaction3DTest, LeftDragsTurnTheSceneAndRollNearTheBorder)
{
    const Eigen::Vector3d x = Eigen::Vector3d::UnitX(), y = Eigen::Vector3d::UnitY(),
                          z = Eigen::Vector3d::UnitZ();
    const struct {
        const char* name;
        QPoint press;  ///< (nx, ny) x 300 from the centre
        QPoint motion;
        Matrix4d pose;
    } cases[] = {
        {"centre, right", {0, 0}, {100, 0}, rotation(y, 10)},
        {"centre, down", {0, 0}, {0, -300}, rotation(x, 30)},
        {"centre, diagonal", {0, 0}, {50, 50}, rotation(x, -5) * rotation(y, 5)},
        // Near the right border vertical motion rolls; horizontal does nothing.
        {"right border, up", {240, 90}, {0, 100}, rotation(z, 10)},
        {"right border, sideways", {240, 90}, {100, 0}, Matrix4d::Identity()},
        {"left border, up", {-240, 90}, {0, 100}, rotation(z, -10)},
        // Near the top and bottom horizontal motion rolls.
        {"top border, right", {-90, 240}, {100, 0}, rotation(z, -10)},
        {"bottom border, right", {90, -240}, {100, 0}, rotation(z, 10)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        camera->reset();
        const QPoint from = center + c.press;
        harness.drag(Qt::LeftButton, from, from + c.motion, 5);
        EXPECT_TRUE(near(pose(), c.pose, 1e-9));
    }
    // The figures of a 30 degree turn about x.
    Matrix4d rx30 = Matrix4d::Identity();
    rx30.block<3, 3>(0, 0) << 1, 0, 0, 0, 0.866, -0.5, 0, 0.5, 0.866;
    EXPECT_TRUE(near(rotation(x, 30), rx30, 1e-3));
}

TEST_F(Interaction3DTest, TurnsAboutTheRotationCentreWithoutJumps)
{
    camera->setRotationCenter({10, -20, 300});
    harness.press(Qt::LeftButton, center);
    EXPECT_TRUE(near(pose(), Matrix4d::Identity(), 1e-9));  // the press changes nothing
    for (int step = 1; step <= 3; ++step)
        harness.move(center + QPoint(0, -100 * step));
    const Matrix4d dragged = pose();
    harness.release(Qt::LeftButton, center + QPoint(0, -300));
    EXPECT_TRUE(near(pose(), dragged, 1e-9));  // nor does the release

    // The centre stays where it was; the rest turned by 30 degrees about x.
    EXPECT_NEAR(dragged(0, 3), 0.0, 1e-9);
    EXPECT_NEAR(dragged(1, 3), 147.32, 0.01);
    EXPECT_NEAR(dragged(2, 3), 50.19, 0.01);
    const Eigen::Vector4d rotationCenter(10, -20, 300, 1);
    EXPECT_NEAR((dragged * rotationCenter - rotationCenter).norm(), 0.0, 1e-9);

    // Moving the centre or folding the increments keeps the picture.
    camera->setRotationCenter({100, 200, -50});
    EXPECT_TRUE(near(pose(), dragged, 1e-9));
    harness.press(Qt::MiddleButton, center);
    harness.move(center + QPoint(0, 20));
    const Matrix4d zoomed = pose();
    camera->bakeTransform();
    EXPECT_TRUE(near(pose(), zoomed, 1e-9));
    harness.release(Qt::MiddleButton, center + QPoint(0, 20));
}

TEST_F(Interaction3DTest, MiddleDragsAndTheWheelMoveAlongTheViewingAxis)
{
    const struct {
        const char* name;
        double distance;
        int drag;   ///< middle drag upwards, pixels
        int wheel;  ///< wheel delta
        double expected;
    } cases[] = {
        {"drag at the origin", 0, 10, 0, 8.0},  // zoom speed falls back to the pan speed 0.8
        {"drag downwards", 0, -10, 0, -8.0},
        {"a notch at the origin", 0, 0, 120, 48.0},
        {"a notch 6 m away", -6000, 0, 120, -6000 + 288.0},
        {"a notch back", -6000, 0, -120, -6000 - 288.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        camera->reset();
        camera->setSpeeds(0.8, 0.1, -1);
        camera->setTranslation(0, 0, c.distance);
        if (c.drag)
            harness.drag(Qt::MiddleButton, center, center + QPoint(0, c.drag), 1);
        if (c.wheel)
            harness.wheel(center, c.wheel);
        EXPECT_TRUE(near(pose(), translation(0, 0, c.expected), 1e-9));
    }
}

TEST_F(Interaction3DTest, ADragBegunElsewhereLeavesTheCameraAlone)
{
    // A second view on the left without interaction: presses there reach
    // nobody, so no view holds the grab.
    auto* other = new InteractiveView(new CountingView);
    harness.widget().addView(other, 0);
    harness.widget().setLayoutMode(ViewLayoutMode::Rows);
    harness.widget().layout();
    const QPoint inOther = other->rect().center();
    const QPoint inView = view->rect().center();

    harness.press(Qt::LeftButton, inOther);
    harness.move(inView);
    harness.move(inView + QPoint(40, 40));
    harness.release(Qt::LeftButton, inView + QPoint(40, 40));
    EXPECT_TRUE(near(pose(), Matrix4d::Identity(), 0.0));

    // Its own drags still work.
    harness.drag(Qt::LeftButton, inView, inView + QPoint(20, 0));
    EXPECT_TRUE(near(pose(), rotation(Eigen::Vector3d::UnitY(), 2), 1e-9));
}

}  // namespace
}  // namespace Veltrane
