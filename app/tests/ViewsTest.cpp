// The five views of the real window: their places in the display widget and
// which of them each mode shows, with which images.

#include "AppTestSupport.h"
#include "MainWindowProbe.h"

#include "core/SharedImageSet.h"
#include "render/DisplayWidget.h"
#include "render/FancyMeshManipulator.h"
#include "render/GlPointCloudView.h"
#include "render/GlSlice.h"
#include "render/ImageView2D.h"
#include "render/Interaction3D.h"

#include <gtest/gtest.h>

#include <QRect>
#include <QTest>
#include <QRectF>

namespace Veltrane {
namespace {

/// The real window after its start, without a camera.
class Views : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.resize(1236, 768);
        window.show();
        ASSERT_TRUE(waitUntil([&] { return MainWindowProbe::captureStarted(window); }, 20000));
        display = window.findChild<DisplayWidget*>("displayWidget");
        ASSERT_NE(display, nullptr);
        views = MainWindowProbe::views(window);
    }

    void enterMode(int mode)
    {
        MainWindowProbe::uiMode(window) = mode;
        MainWindowProbe::updateUiMode(window);
    }

    /// Resizes the window so that the display widget gets `size`.
    bool resizeDisplay(const QSize& size)
    {
        window.resize(window.size() + size - display->size());
        return waitUntil([&] { return display->size() == size; });
    }

    MessageBoxLog answers;
    MainWindow window;
    DisplayWidget* display = nullptr;
    MainWindowProbe::Views views{};
};

/// The views of capture mode fill the display widget, the side column's
/// two rows two pixels apart and two pixels from the right part.
void expectSideColumnFills(const DisplayWidget& display, const MainWindowProbe::Views& views)
{
    const QRect colour = views.color->rect();
    const QRect depth = views.depth->rect();
    const QRect right = views.pointCloud->rect();
    // With y upwards, a QRect's top() is its lower edge.
    EXPECT_EQ(depth.topLeft(), QPoint(0, 0));
    EXPECT_EQ(colour.top(), depth.bottom() + 3);
    EXPECT_EQ(colour.bottom(), display.height() - 1);
    EXPECT_EQ(colour.right(), depth.right());
    EXPECT_EQ(right.left(), depth.right() + 3);
    EXPECT_EQ(right.right(), display.width() - 1);
    EXPECT_EQ(right.bottom(), display.height() - 1);
}

void expectRelative(const QRectF& actual, const QRectF& expected, const char* view)
{
    EXPECT_DOUBLE_EQ(actual.x(), expected.x()) << view;
    EXPECT_DOUBLE_EQ(actual.y(), expected.y()) << view;
    EXPECT_DOUBLE_EQ(actual.width(), expected.width()) << view;
    EXPECT_DOUBLE_EQ(actual.height(), expected.height()) << view;
}

/// Pixel rectangles with y upwards from the display widget's bottom row.
QRect pixels(int left, int bottom, int right, int top)
{
    return QRect(QPoint(left, bottom), QPoint(right, top));
}

TEST_F(Views, SideColumnIsAThirdOfTheDisplaySplitInTwoRowsWithTwoPixelGaps)
{
    ASSERT_TRUE(resizeDisplay({1000, 800}));
    // a = 330 pixels of column, b = 400 pixels of lower row.
    const struct {
        const char* name;
        InteractiveView* view;
        QRectF relative;
        QRect rect;
    } places[] = {
        {"colour", views.color, {0.0, 402.0 / 800, 0.33, 398.0 / 800}, pixels(0, 402, 329, 799)},
        {"depth", views.depth, {0.0, 0.0, 0.33, 0.5}, pixels(0, 0, 329, 399)},
        {"point cloud", views.pointCloud, {0.332, 0.0, 0.668, 1.0}, pixels(332, 0, 999, 799)},
        {"scene", views.scene, {0.332, 0.0, 0.668, 1.0}, pixels(332, 0, 999, 799)},
    };
    for (int mode : {1, 2}) {
        enterMode(mode);
        for (const auto& place : places) {
            SCOPED_TRACE(place.name);
            expectRelative(place.view->relativeRect, place.relative, place.name);
            if (place.view->visible()) {
                EXPECT_EQ(place.view->rect(), place.rect) << "mode " << mode;
            }
        }
    }

    // The mesh view alone fills the widget but for a pixel all round.
    enterMode(3);
    expectRelative(views.mesh->relativeRect, {0.0, 0.0, 1.0, 1.0}, "mesh");
    EXPECT_EQ(views.mesh->rect(), pixels(1, 1, 998, 798));

    // The playback bar takes room from the display widget alone.
    enterMode(1);
    window.findChild<QWidget*>("playbackWidget")->show();
    ASSERT_TRUE(waitUntil([&] { return display->height() < 800; }));
    expectSideColumnFills(*display, views);
}

TEST(ViewsOfANewWindow, FillTheDisplayWidgetOnceItIsShown)
{
    MessageBoxLog answers;
    MainWindow window;
    ASSERT_TRUE(waitUntil([&] { return MainWindowProbe::captureStarted(window); }, 20000));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    expectSideColumnFills(*window.findChild<DisplayWidget*>("displayWidget"), MainWindowProbe::views(window));
}

TEST_F(Views, EachModeShowsItsViewsWithItsImages)
{
    MainWindowProbe::allocateFrameImages(window, 64, 48);
    SharedImage* const colour = MainWindowProbe::colorImage(window);
    SharedImage* const trackedColour = MainWindowProbe::displayColorImage(window);
    SharedImage* const depth = MainWindowProbe::depthImage(window);
    SharedImage* const scene = MainWindowProbe::sceneImage(window);
    const auto shows = [](ImageView2D* view) { return view->slice()->images(); };

    const struct {
        int mode;
        bool color, depth, pointCloud, scene, mesh;
    } cases[] = {
        {1, true, true, true, false, false},
        {2, true, true, false, true, false},
        {3, false, false, false, false, true},
        {1, true, true, true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        enterMode(c.mode);
        EXPECT_EQ(views.color->visible(), c.color);
        EXPECT_EQ(views.depth->visible(), c.depth);
        EXPECT_EQ(views.pointCloud->visible(), c.pointCloud);
        EXPECT_EQ(views.scene->visible(), c.scene);
        EXPECT_EQ(views.mesh->visible(), c.mesh);
        EXPECT_TRUE(display->relativeLayout());
    }

    // Capture: the live colour with the colour of the last tracked frame
    // behind it, unselected, and the live depth.
    const SharedImageSet* colourSet = shows(views.color);
    ASSERT_EQ(colourSet->size(), 2);
    EXPECT_EQ(colourSet->get(0), colour);
    EXPECT_EQ(colourSet->get(1), trackedColour);
    EXPECT_EQ(colourSet->selection(), Selection());
    ASSERT_EQ(shows(views.depth)->size(), 1);
    EXPECT_EQ(shows(views.depth)->get(0), depth);

    enterMode(2);
    ASSERT_EQ(shows(views.scene)->size(), 1);
    EXPECT_EQ(shows(views.scene)->get(0), scene);
}

TEST_F(Views, CaptureModePutsThePointCloudCameraBackAndStopsTheVolumeHandles)
{
    GlView* pointCloud = MainWindowProbe::pointCloudGlView(window);
    const GlMatrix start = pointCloud->matrix();
    Interaction3D* camera = MainWindowProbe::pointCloudCamera(window);
    FancyMeshManipulator* handles = MainWindowProbe::volumeManipulator(window);
    EXPECT_FALSE(handles->active);
    EXPECT_EQ(handles->handleSet, ManipulatorHandleSet::Rotate);

    camera->setTranslation(300.0, -200.0, -2500.0);
    handles->active = true;
    ASSERT_NE(pointCloud->matrix(), start);
    enterMode(1);
    EXPECT_EQ(pointCloud->matrix(), start);
    EXPECT_FALSE(handles->active);
}

}  // namespace
}  // namespace Veltrane
