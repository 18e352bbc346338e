#include "render/InteractionDepthMap.h"

#include "DisplayTestSupport.h"
#include "reconstruction/ReconstructionParameters.h"
#include "render/InteractiveView.h"
#include "render/ViewLayout.h"

#include <gtest/gtest.h>

#include <cmath>

namespace Veltrane {
namespace {

/// The depth view of a 400 x 300 display widget, placing the volume of a
/// parameter set 1800 mm in front of the camera.
class InteractionDepthMapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(harness.ready());
        auto* view = new InteractiveView(new CountingView);
        view->interaction = &interaction;
        harness.widget().addView(view);
    }

    std::array<double, 3> position() const
    {
        const std::array<double, 16> pose = parameters.volumePose();
        return {pose[12], pose[13], pose[14]};
    }

    DisplayHarness harness{400, 300};
    ReconstructionParameters parameters;
    InteractionDepthMap interaction{&parameters};
    const QPoint center{200, 150};
};

TEST_F(InteractionDepthMapTest, DragsMoveAndScaleTheVolume)
{
    const struct {
        const char* name;
        Qt::MouseButton button;
        QPoint motion;
        std::array<double, 3> position;
        double size;
    } cases[] = {
        // Up on the screen is up in the picture: camera y points down.
        {"left", Qt::LeftButton, {5, 3}, {5, -3, 1800}, 1000},
        {"right, away", Qt::RightButton, {7, 10}, {0, 0, 1820}, 1000},
        {"middle, larger", Qt::MiddleButton, {0, 100}, {0, 0, 1800}, 1000 * M_E},
        {"middle, smaller", Qt::MiddleButton, {30, -50}, {0, 0, 1800}, 1000 * std::exp(-0.5)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReconstructionParameters defaults;
        parameters.setVolumePose(defaults.volumePose());
        parameters.setVolumeSize(defaults.volumeSize);
        harness.drag(c.button, center, center + c.motion, 4);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(position()[i], c.position[i], 1e-9);
            EXPECT_NEAR(parameters.volumeSize[i], c.size, 1e-6);
        }
        // The rotation part is left alone.
        EXPECT_EQ(parameters.volumePose()[0], 1.0);
        EXPECT_EQ(parameters.volumePose()[5], 1.0);
    }
}

TEST_F(InteractionDepthMapTest, DoesNothingWhileLockedAndFollowsChangesMadeElsewhere)
{
    parameters.setLocked(true);
    harness.drag(Qt::LeftButton, center, center + QPoint(50, 0));
    harness.drag(Qt::MiddleButton, center, center + QPoint(0, 100));
    EXPECT_EQ(position(), (std::array<double, 3>{0, 0, 1800}));
    EXPECT_EQ(parameters.volumeSize, (std::array<double, 3>{1000, 1000, 1000}));

    // Unlocking re-reads the volume: the next drag starts where it is.
    parameters.setLocked(false);
    harness.drag(Qt::LeftButton, center, center + QPoint(1, 0));
    EXPECT_EQ(position(), (std::array<double, 3>{1, 0, 1800}));

    // So does a pose set by somebody else, for instance the volume's manipulator.
    std::array<double, 16> moved = parameters.volumePose();
    moved[12] = -200;
    moved[13] = 100;
    parameters.setVolumePose(moved);
    harness.drag(Qt::LeftButton, center, center + QPoint(0, 10));
    EXPECT_EQ(position(), (std::array<double, 3>{-200, 90, 1800}));
}

TEST_F(InteractionDepthMapTest, ADragBegunElsewhereMovesNothing)
{
    // A view on the left without interaction: presses there reach nobody.
    auto* other = new InteractiveView(new CountingView);
    harness.widget().addView(other, 0);
    harness.widget().setLayoutMode(ViewLayoutMode::Rows);
    harness.widget().layout();
    const QPoint inDepthView = harness.widget().views()[1]->rect().center();

    harness.press(Qt::LeftButton, other->rect().center());
    harness.move(inDepthView);
    harness.move(inDepthView + QPoint(30, 30));
    harness.release(Qt::LeftButton, inDepthView + QPoint(30, 30));
    EXPECT_EQ(position(), (std::array<double, 3>{0, 0, 1800}));
}

}  // namespace
}  // namespace Veltrane
