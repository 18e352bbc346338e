#include "render/InteractionView2D.h"

#include "DisplayTestSupport.h"
#include "RenderTestSupport.h"
#include "core/SharedImage.h"
#include "core/SharedImageSet.h"
#include "render/GlSlice.h"
#include "render/GlSliceView.h"
#include "render/ImageView2D.h"
#include "testsupport/Screenshots.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>

namespace Veltrane {
namespace {

/// Counts the context-menu requests that reach a widget and keeps them from
/// opening a menu.
class ContextMenuRequests : public QObject {
public:
    explicit ContextMenuRequests(QWidget& widget) { widget.installEventFilter(this); }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::ContextMenu)
            return false;
        ++count;
        return true;
    }

    int count = 0;
};

/// An image view filling a 200 x 100 display widget. Its 2-D image is
/// 400 x 100 elements, so the view shows 2 world units per pixel.
class InteractionView2DTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(harness.ready());
        view = new ImageView2D(0);
        harness.widget().addView(view);
        ASSERT_EQ(view->rect(), QRect(0, 0, 200, 100));
        show(image.get());
    }

    /// Shows `shown` and paints, so that the view has fitted it.
    void show(SharedImage* shown)
    {
        view->slice()->setImage(shown);
        harness.paint();
    }

    GlVector centre() const { return view->slice()->plane().centre(); }

    std::unique_ptr<SharedImage> image =
        memoryImage<unsigned char>(400, 100, 1, 1, std::vector<unsigned char>(40000, 90));
    std::unique_ptr<SharedImage> volume =
        memoryImage<unsigned char>(8, 8, 10, 1, std::vector<unsigned char>(640, 90));
    DisplayHarness harness{200, 100};
    ImageView2D* view = nullptr;
    const QPoint middle{100, 50};
};

TEST_F(InteractionView2DTest, ShiftDragSetsLevelAndWindow)
{
    harness.press(Qt::LeftButton, middle, Qt::ShiftModifier);
    harness.move(middle + QPoint(10, 20), Qt::ShiftModifier);
    harness.release(Qt::LeftButton, middle + QPoint(10, 20), Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(view->level(), 0.55);
    EXPECT_DOUBLE_EQ(view->window(), 1.2);

    // Dragging the window down stops above zero.
    harness.press(Qt::LeftButton, middle, Qt::ShiftModifier);
    harness.move(middle + QPoint(0, -99), Qt::ShiftModifier);
    harness.move(middle + QPoint(0, -200), Qt::ShiftModifier);
    harness.release(Qt::LeftButton, middle, Qt::ShiftModifier);
    EXPECT_EQ(view->window(), ImageView2D::minimumWindow);
}

TEST_F(InteractionView2DTest, LeftDragZoomsAndOtherModifiersLeaveTheViewAlone)
{
    harness.drag(Qt::LeftButton, middle, middle + QPoint(0, 10), 1);
    EXPECT_DOUBLE_EQ(view->zoom(), std::exp(-0.1));
    harness.drag(Qt::LeftButton, middle, middle + QPoint(30, 0), 3);
    EXPECT_DOUBLE_EQ(view->zoom(), std::exp(-0.1)) << "sideways";

    const GlMatrix plane = view->sliceView()->matrix();
    harness.press(Qt::LeftButton, middle, Qt::ControlModifier);
    harness.move(middle + QPoint(0, 10), Qt::ControlModifier);
    harness.release(Qt::LeftButton, middle + QPoint(0, 10), Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(view->zoom(), std::exp(-0.1)) << "Ctrl on a 2-D image";
    EXPECT_EQ(view->sliceView()->matrix(), plane);
}

TEST_F(InteractionView2DTest, RightDragPansThePictureWithTheMouse)
{
    ASSERT_DOUBLE_EQ(view->scale(), 2.0);
    ContextMenuRequests menus(harness.widget());
    harness.drag(Qt::RightButton, middle, middle + QPoint(5, 0), 1);
    EXPECT_EQ(centre(), (GlVector{-10, 0, 0}));
    harness.drag(Qt::RightButton, middle, middle + QPoint(0, 3), 1);
    EXPECT_EQ(centre(), (GlVector{-10, -6, 0})) << "up";
    view->setFlip(true);
    harness.drag(Qt::RightButton, middle, middle + QPoint(0, 3), 1);
    EXPECT_EQ(centre(), (GlVector{-10, 0, 0})) << "up, flipped";
    QApplication::processEvents();
    EXPECT_EQ(menus.count, 0) << "a drag asks for no menu";

    // Away from the windows of tests running beside this one: the request
    // finds the widget by its place on the screen.
    ASSERT_TRUE(harness.moveTo(QPoint(1060, 700)));
    harness.press(Qt::RightButton, middle);
    harness.release(Qt::RightButton, middle);
    QApplication::processEvents();
    EXPECT_EQ(menus.count, 1) << "a click does";
}

TEST_F(InteractionView2DTest, MoveImageModeMovesTheImageInsteadOfThePlane)
{
    view->interaction2D()->moveImage = 1;
    harness.drag(Qt::RightButton, middle, middle + QPoint(5, 0), 1);
    EXPECT_EQ(centre(), (GlVector{0, 0, 0}));
    const Eigen::Matrix4d moved = view->slice()->images()->matrix(-1);
    EXPECT_DOUBLE_EQ(moved(0, 3), -10.0);
    EXPECT_DOUBLE_EQ(moved(1, 3), 0.0);
}

TEST_F(InteractionView2DTest, WheelStepsThroughImagesAndSlices)
{
    std::vector<std::unique_ptr<SharedImage>> images;
    SharedImageSet set(false);
    for (int i = 0; i < 5; ++i) {
        images.push_back(memoryImage<unsigned char>(4, 4, 1, 1, std::vector<unsigned char>(16, 9)));
        set.add(images.back().get());
    }
    set.setFocus(3);
    view->slice()->setImages(&set);
    harness.paint();
    QSignalSpy focus(view, &ImageView2D::focusChanged);
    harness.wheel(middle, 120);
    EXPECT_EQ(set.selection().focus, 2);
    ASSERT_EQ(focus.count(), 1);
    EXPECT_EQ(focus.front().front().toInt(), 3);
    // A touchpad's small deltas add up to a notch.
    for (int i = 0; i < 3; ++i)
        harness.wheel(middle, -40);
    EXPECT_EQ(set.selection().focus, 3);
    harness.wheel(middle, -240);
    harness.wheel(middle, -120);  // past the end: the set keeps the last
    EXPECT_EQ(set.selection().focus, 4);
    EXPECT_EQ(focus.count(), 3);

    // On a volume a notch forward moves the plane one slice back.
    show(volume.get());
    view->slice()->moveSlice(0);  // onto slice 5, at z = 0.5
    harness.wheel(middle, 120);
    EXPECT_DOUBLE_EQ(centre()[2], -0.5);
    view->setFlip(true);
    harness.wheel(middle, 240);
    EXPECT_DOUBLE_EQ(centre()[2], 1.5);
}

TEST_F(InteractionView2DTest, MiddleDragStepsThroughTheVolume)
{
    show(volume.get());
    view->slice()->moveSlice(0);  // slice 5
    harness.drag(Qt::MiddleButton, middle, middle + QPoint(0, 3), 1);
    EXPECT_DOUBLE_EQ(centre()[2], -2.5) << "slice 2";
    harness.press(Qt::MiddleButton, middle, Qt::ControlModifier);
    harness.move(middle + QPoint(20, 0), Qt::ControlModifier);
    harness.release(Qt::MiddleButton, middle + QPoint(20, 0), Qt::ControlModifier);
    // Ctrl turns the plane about its normal instead.
    EXPECT_DOUBLE_EQ(centre()[2], -2.5);
    const GlVector x = view->slice()->plane().column(0);
    EXPECT_NEAR(x[0], std::cos(0.07), 1e-12);
    EXPECT_NEAR(x[1], -std::sin(0.07), 1e-12);
}

TEST_F(InteractionView2DTest, CtrlLeftDragTiltsThePlaneThroughAVolume)
{
    show(volume.get());
    harness.press(Qt::LeftButton, middle, Qt::ControlModifier);
    harness.move(middle + QPoint(10, 0), Qt::ControlModifier);
    harness.release(Qt::LeftButton, middle + QPoint(10, 0), Qt::ControlModifier);
    const GlVector normal = view->slice()->plane().normal();
    EXPECT_NEAR(normal[0], std::sin(0.035), 1e-12);
    EXPECT_NEAR(normal[2], std::cos(0.035), 1e-12);
    EXPECT_DOUBLE_EQ(view->zoom(), 1.0);
}

TEST_F(InteractionView2DTest, AltDragBlendsAndAPlainMoveHovers)
{
    view->setBlendFactor(0.25);
    harness.press(Qt::LeftButton, middle, Qt::AltModifier);
    harness.move(middle + QPoint(50, 0), Qt::AltModifier);
    harness.release(Qt::LeftButton, middle + QPoint(50, 0), Qt::AltModifier);
    EXPECT_DOUBLE_EQ(view->blendFactor(), 0.5);

    view->setZoom(0.75);
    harness.paint();
    harness.move(QPoint(10, 60));  // its centre lies at (-134.25, 15.75) mm
    EXPECT_EQ(view->sliceView()->pixel(), (std::array<int, 3>{65, 65, 0}));
    EXPECT_EQ(view->sliceView()->readout(), "X=65 Y=65 I=90");
}

/// A mouse event in window coordinates that nobody has accepted yet, as the
/// display widget hands it to its views.
QMouseEvent mouseEvent(QEvent::Type type, const QPoint& position, Qt::MouseButton button,
                       Qt::MouseButtons buttons)
{
    QMouseEvent event(type, position, position, button, buttons, Qt::NoModifier);
    event.setAccepted(false);
    return event;
}

TEST_F(InteractionView2DTest, HoveringIsConsumedOnlyWhenTheVoxelChanges)
{
    view->setZoom(0.25);  // two pixels an element: 10 and 11 show 155, 12 shows 156
    harness.paint();
    InteractionView2D& interaction = *view->interaction2D();
    QMouseEvent first = mouseEvent(QEvent::MouseMove, {10, 60}, Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(interaction.handleEvent(&first));
    EXPECT_EQ(view->sliceView()->pixel(), (std::array<int, 3>{155, 55, 0}));
    QMouseEvent same = mouseEvent(QEvent::MouseMove, {11, 60}, Qt::NoButton, Qt::NoButton);
    EXPECT_FALSE(interaction.handleEvent(&same)) << "the same element";
    QMouseEvent next = mouseEvent(QEvent::MouseMove, {12, 60}, Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(interaction.handleEvent(&next));
    QMouseEvent outside = mouseEvent(QEvent::MouseMove, {12, 5}, Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(interaction.handleEvent(&outside)) << "left the image";
    EXPECT_FALSE(interaction.handleEvent(&outside));
}

TEST_F(InteractionView2DTest, ReleaseOfAnotherButtonKeepsTheDrag)
{
    InteractionView2D& interaction = *view->interaction2D();
    QMouseEvent press =
        mouseEvent(QEvent::MouseButtonPress, middle, Qt::RightButton, Qt::RightButton);
    EXPECT_TRUE(interaction.handleEvent(&press));
    QMouseEvent otherRelease = mouseEvent(QEvent::MouseButtonRelease, middle + QPoint(3, 0),
                                          Qt::LeftButton, Qt::RightButton);
    EXPECT_TRUE(interaction.handleEvent(&otherRelease));
    EXPECT_FALSE(otherRelease.isAccepted());
    // The right button still pans, from where the other button was released.
    QMouseEvent move =
        mouseEvent(QEvent::MouseMove, middle + QPoint(4, 0), Qt::NoButton, Qt::RightButton);
    EXPECT_TRUE(interaction.handleEvent(&move));
    EXPECT_EQ(centre(), (GlVector{-2, 0, 0}));
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    EXPECT_FALSE(interaction.handleEvent(&key));
}

TEST_F(InteractionView2DTest, ImageViewsInTheDisplayWidgetScreenshot)
{
    harness.resize(420, 200);
    auto* depthView = new ImageView2D(0);
    std::vector<unsigned short> depth;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            depth.push_back(static_cast<unsigned short>(800 + 10 * x + 5 * y));
    auto depthImage = memoryImage<unsigned short>(64, 48, 1, 1, depth);
    depthView->slice()->setImage(depthImage.get());
    depthView->setLevel(1300.0 / 65535.0);
    depthView->setWindow(1000.0 / 65535.0);
    depthView->showContextMenu = true;
    depthView->actions().value("Jet")->trigger();
    depthView->drawBorder = true;
    view->drawBorder = true;
    std::vector<unsigned char> rgb;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            rgb.insert(rgb.end(),
                       {static_cast<unsigned char>(4 * x), static_cast<unsigned char>(5 * y), 128});
    auto colour = memoryImage<unsigned char>(64, 48, 1, 3, rgb);
    view->slice()->setImage(colour.get());
    harness.widget().addView(depthView);
    harness.widget().setLayoutMode(1);
    harness.widget().layout();
    harness.paint();
    harness.move(QPoint(300, 120));
    harness.paint();
    EXPECT_FALSE(depthView->sliceView()->readout().empty());
    harness.widget().saveScreenshot(
        QString::fromStdString(screenshotPath("image-views-display-widget")));
}

}  // namespace
}  // namespace Veltrane
