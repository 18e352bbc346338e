#include "render/DisplayWidget.h"

#include "DisplayTestSupport.h"
#include "RenderTestSupport.h"
#include "core/Mesh.h"
#include "reconstruction/ReconstructionParameters.h"
#include "render/FancyMeshManipulator.h"
#include "render/GlBoundingBox.h"
#include "render/GlMesh.h"
#include "render/GlMeshView.h"
#include "render/GlPointCloudView.h"
#include "render/InteractiveOverlay.h"
#include "render/InteractiveView.h"
#include "render/ViewLayout.h"
#include "testsupport/LogCapture.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace Veltrane {
namespace {

QRect corners(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

/// A view over a scene that draws nothing, in `color`, recording its events.
InteractiveView* recordingView(RecordingInteraction* interaction, const QColor& color = Qt::black)
{
    auto* view = new InteractiveView(new CountingView);
    view->interaction = interaction;
    view->backgroundColor = color;
    return view;
}

std::vector<QRect> rectsOf(const DisplayWidget& widget)
{
    std::vector<QRect> rects;
    for (const InteractiveView* view : widget.views())
        rects.push_back(view->rect());
    return rects;
}

const std::set<QEvent::Type> mouseTypes{QEvent::MouseButtonPress, QEvent::MouseMove,
                                        QEvent::MouseButtonRelease};

TEST(DisplayWidgetTest, LaysViewsOutByModeVisibilityAndRelativePlace)
{
    DisplayHarness harness(1000, 600);
    ASSERT_TRUE(harness.ready());
    DisplayWidget& widget = harness.widget();
    RecordingInteraction none;
    InteractiveView* a = recordingView(&none);
    InteractiveView* b = recordingView(&none);
    InteractiveView* c = recordingView(&none);
    widget.addView(a);
    widget.addView(b);
    widget.addView(c, 0);  // inserted first
    EXPECT_EQ(widget.views(), (QList<InteractiveView*>{c, a, b}));
    const QRect whole = corners(0, 0, 999, 599);
    EXPECT_EQ(rectsOf(widget), (std::vector<QRect>{whole, whole, whole}));

    widget.setLayoutMode(ViewLayoutMode::Columns);
    widget.layout();
    EXPECT_EQ(rectsOf(widget), gridLayout(3, 1000, 600, ViewLayoutMode::Columns));

    // Hiding a view lays the others out again; the hidden one keeps its place.
    const QRect hiddenRect = a->rect();
    a->setVisible(false);
    const std::vector<QRect> two = gridLayout(2, 1000, 600, ViewLayoutMode::Columns);
    EXPECT_EQ(rectsOf(widget), (std::vector<QRect>{two[0], hiddenRect, two[1]}));

    // A view already there changes nothing.
    widget.setRelativeLayout(true);
    widget.addView(b);
    EXPECT_EQ(widget.views().size(), 3);
    EXPECT_TRUE(widget.relativeLayout());

    c->relativeRect = QRectF(0.0, 0.5, 0.33, 0.5);
    b->relativeRect = QRectF(0.33, 0.0, 0.67, 1.0);
    a->relativeRect = QRectF(0.0, 0.0, 0.33, 0.5);
    widget.layout();
    EXPECT_EQ(c->rect(), corners(0, 300, 329, 599));
    EXPECT_EQ(b->rect(), corners(330, 0, 999, 599));
    EXPECT_EQ(a->rect(), corners(0, 0, 329, 299));  // hidden views are placed too

    // A single visible view takes the whole widget, whatever its relative place.
    c->setVisible(false);
    EXPECT_EQ(b->rect(), corners(1, 1, 998, 598));

    // With nothing visible nothing moves.
    b->setVisible(false);
    const std::vector<QRect> before = rectsOf(widget);
    ASSERT_TRUE(harness.resize(800, 500));
    EXPECT_EQ(rectsOf(widget), before);

    // A new view switches the relative layout off; a resize lays out again.
    widget.addView(recordingView(&none));
    EXPECT_FALSE(widget.relativeLayout());
    b->setVisible(true);
    EXPECT_EQ(b->rect(), gridLayout(2, 800, 500, ViewLayoutMode::Columns)[0]);
}

TEST(DisplayWidgetTest, OwnsItsViewsAndOverlays)
{
    QPointer<InteractiveView> view;
    QPointer<InteractiveOverlay> overlay;
    {
        DisplayHarness harness(100, 100);
        ASSERT_TRUE(harness.ready());
        view = new InteractiveView(new CountingView);
        overlay = new InteractiveOverlay(10, 10);
        harness.widget().addView(view);
        harness.widget().addOverlay(overlay);
    }
    EXPECT_TRUE(view.isNull());
    EXPECT_TRUE(overlay.isNull());
}

TEST(DisplayWidgetTest, MouseAndWheelEventsArriveFlippedWithTheirGlobalPosition)
{
    DisplayHarness harness(200, 100);
    ASSERT_TRUE(harness.ready());
    DisplayWidget& widget = harness.widget();
    RecordingInteraction interaction({QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                      QEvent::Wheel});
    widget.addView(recordingView(&interaction));

    // The top row of the widget is the highest row of the views.
    QTest::mousePress(&widget, Qt::LeftButton, {}, QPoint(10, 0));
    QTest::mouseRelease(&widget, Qt::LeftButton, {}, QPoint(10, 0));
    harness.wheel(QPoint(150, 20), 240);
    const auto presses = interaction.of(QEvent::MouseButtonPress);
    ASSERT_EQ(presses.size(), 1u);
    EXPECT_EQ(presses[0].pos, QPoint(10, 99));
    EXPECT_EQ(presses[0].globalPos, widget.mapToGlobal(QPoint(10, 0)));
    const auto wheels = interaction.of(QEvent::Wheel);
    ASSERT_EQ(wheels.size(), 1u);
    EXPECT_EQ(wheels[0].pos, QPoint(150, 20));
    EXPECT_EQ(wheels[0].globalPos, widget.mapToGlobal(harness.toWidget(QPoint(150, 20))));
}

TEST(DisplayWidgetTest, AGrabDeliversEverythingToItsViewOnceUntilTheRelease)
{
    DisplayHarness harness(400, 200);
    ASSERT_TRUE(harness.ready());
    DisplayWidget& widget = harness.widget();
    widget.setLayoutMode(ViewLayoutMode::Rows);
    // The left view takes presses and releases but lets moves pass.
    RecordingInteraction left({QEvent::MouseButtonPress, QEvent::MouseButtonRelease});
    RecordingInteraction right(mouseTypes);
    InteractiveView* leftView = recordingView(&left);
    widget.addView(leftView);
    widget.addView(recordingView(&right));
    ASSERT_EQ(leftView->rect(), corners(1, 1, 198, 198));

    harness.press(Qt::LeftButton, QPoint(100, 100));
    EXPECT_EQ(widget.grabbingView(), leftView);
    harness.move(QPoint(150, 100));  // inside the grabbing view
    harness.move(QPoint(300, 100));  // over the other view: not consumed by the grab
    harness.release(Qt::LeftButton, QPoint(300, 120));
    EXPECT_EQ(widget.grabbingView(), nullptr);

    // The grabbing view saw each move once and the release outside itself.
    ASSERT_EQ(left.seen.size(), 4u);
    EXPECT_EQ(left.seen[1].pos, QPoint(150, 100));
    EXPECT_EQ(left.seen[2].pos, QPoint(300, 100));
    EXPECT_EQ(left.seen[3].type, QEvent::MouseButtonRelease);
    EXPECT_EQ(left.seen[3].pos, QPoint(300, 120));
    // A move the grab did not take goes to the view under the pointer.
    ASSERT_EQ(right.seen.size(), 1u);
    EXPECT_EQ(right.seen[0].pos, QPoint(300, 100));

    // After the release, moves go by position again.
    harness.move(QPoint(120, 50));
    harness.move(QPoint(320, 50));
    EXPECT_EQ(left.seen.size(), 5u);
    EXPECT_EQ(right.seen.size(), 2u);
}

TEST(DisplayWidgetTest, KeysGoToTheVisibleViewsInOrderAndToAGrabFirst)
{
    DisplayHarness harness(300, 100);
    ASSERT_TRUE(harness.ready());
    DisplayWidget& widget = harness.widget();
    widget.setLayoutMode(ViewLayoutMode::Rows);
    RecordingInteraction hidden({QEvent::KeyPress});
    RecordingInteraction passing;
    RecordingInteraction taking({QEvent::KeyPress, QEvent::MouseButtonPress});
    widget.addView(recordingView(&hidden));
    widget.addView(recordingView(&passing));
    widget.addView(recordingView(&taking));
    widget.views()[0]->setVisible(false);

    QTest::keyPress(&widget, Qt::Key_A);
    EXPECT_TRUE(hidden.of(QEvent::KeyPress).empty());
    EXPECT_EQ(passing.of(QEvent::KeyPress).size(), 1u);
    EXPECT_EQ(taking.of(QEvent::KeyPress).size(), 1u);

    // While the last view holds the mouse it hears keys first.
    const QRect grabbing = widget.views()[2]->rect();
    harness.press(Qt::LeftButton, grabbing.center());
    QTest::keyPress(&widget, Qt::Key_Escape);
    EXPECT_EQ(passing.of(QEvent::KeyPress).size(), 1u);
    ASSERT_EQ(taking.of(QEvent::KeyPress).size(), 2u);
    EXPECT_EQ(taking.of(QEvent::KeyPress)[1].key, Qt::Key_Escape);
    harness.release(Qt::LeftButton, grabbing.center());
}

TEST(DisplayWidgetTest, TheResetShortcutReachesAViewThroughTheWidget)
{
    DisplayHarness harness(100, 100);
    ASSERT_TRUE(harness.ready());
    RecordingInteraction interaction;
    harness.widget().addView(recordingView(&interaction));
    harness.key(Qt::Key_R);
    EXPECT_EQ(interaction.resets, 1);
}

TEST(DisplayWidgetTest, EventsNobodyTakesClearOverrideCursors)
{
    DisplayHarness harness(100, 100);
    ASSERT_TRUE(harness.ready());
    RecordingInteraction interaction;
    harness.widget().addView(recordingView(&interaction));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QApplication::setOverrideCursor(Qt::CrossCursor);
    harness.move(QPoint(50, 50));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(interaction.seen.size(), 1u);
}

/// Runs `action` while watching for a popup menu: returns the texts of the
/// menu that opened (empty when none did) after `choose` picked an entry of
/// it by text, or closed it when `choose` is empty.
QStringList menuOpenedBy(const std::function<void()>& action, const QString& choose = QString())
{
    QStringList texts;
    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* entry : menu->actions()) {
            texts << entry->text();
            if (entry->text() == choose)
                menu->setActiveAction(entry);
        }
        if (choose.isEmpty())
            menu->close();
        else
            QTest::keyClick(menu, Qt::Key_Return);
    });
    watcher.start();
    action();
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < 200)
        QApplication::processEvents();
    return texts;
}

TEST(DisplayWidgetTest, OnlyARequestedContextMenuOpens)
{
    DisplayHarness harness(200, 100);
    ASSERT_TRUE(harness.ready());
    // Away from the windows of tests running beside this one: the request
    // finds the widget by its place on the screen.
    ASSERT_TRUE(harness.moveTo(QPoint(1060, 900)));
    DisplayWidget& widget = harness.widget();
    RecordingInteraction interaction;
    InteractiveView* view = recordingView(&interaction);
    view->showContextMenu = true;
    widget.addView(view);
    const QPoint inside(50, 50);
    const QPoint global = widget.mapToGlobal(harness.toWidget(inside));

    // Right clicks and the menu key do not open it.
    for (const auto reason : {QContextMenuEvent::Mouse, QContextMenuEvent::Keyboard}) {
        EXPECT_TRUE(menuOpenedBy([&] {
                        QContextMenuEvent event(reason, harness.toWidget(inside), global);
                        QApplication::sendEvent(&widget, &event);
                    }).isEmpty());
    }
    EXPECT_TRUE(menuOpenedBy([&] {
                    harness.press(Qt::RightButton, inside);
                    harness.release(Qt::RightButton, inside);
                }).isEmpty());

    // An interaction's request opens the view's menu; choosing "Hide" hides it.
    EXPECT_EQ(menuOpenedBy([&] { interaction.postContextMenu(inside, global, {}); }, "Hide"),
              (QStringList{"Reset", "Hide"}));
    EXPECT_FALSE(view->visible());

    // A view that offers no menu opens none.
    view->setVisible(true);
    view->showContextMenu = false;
    EXPECT_TRUE(menuOpenedBy([&] { interaction.postContextMenu(inside, global, {}); }).isEmpty());
    // Nor does a request far from any display widget.
    view->showContextMenu = true;
    EXPECT_TRUE(
        menuOpenedBy([&] { interaction.postContextMenu(inside, QPoint(1270, 1010), {}); })
            .isEmpty());
}

/// A shown display widget with a red, a green and a blue view over yellow:
/// two side by side over one as wide as both.
struct ColouredViews {
    ColouredViews(int width, int height) : harness(width, height)
    {
        DisplayWidget& widget = harness.widget();
        widget.setBackgroundColor(QColor(255, 255, 0));
        widget.setLayoutMode(ViewLayoutMode::Rows);
        for (const QColor& color : {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255)})
            widget.addView(recordingView(&interaction, color));
    }

    RecordingInteraction interaction;
    DisplayHarness harness;
};

/// The colour of a window point (y upwards) in a picture of the widget.
QColor colorAt(const QImage& image, const QPoint& window)
{
    return image.pixelColor(window.x(), image.height() - 1 - window.y());
}

TEST(DisplayWidgetTest, AScreenshotShowsWhatIsDrawn)
{
    ColouredViews views(300, 120);
    ASSERT_TRUE(views.harness.ready());
    DisplayWidget& widget = views.harness.widget();
    QTemporaryDir folder;
    const QString path = folder.filePath("shot.png");
    LogCapture log;
    // Whatever was on the screen before is drawn again for the picture.
    views.harness.paint();
    widget.saveScreenshot(path);
    widget.saveScreenshot(QString::fromStdString(screenshotPath("display_widget_three_views")));

    EXPECT_TRUE(log.contains("INFO " + path.toStdString()));
    const QImage image(path);
    ASSERT_EQ(image.size(), QSize(300, 120));
    EXPECT_FALSE(image.hasAlphaChannel());
    EXPECT_EQ(colorAt(image, widget.views()[0]->rect().center()), QColor(255, 0, 0));
    EXPECT_EQ(colorAt(image, widget.views()[1]->rect().center()), QColor(0, 255, 0));
    EXPECT_EQ(colorAt(image, widget.views()[2]->rect().center()), QColor(0, 0, 255));
    EXPECT_EQ(colorAt(image, QPoint(0, 0)), QColor(255, 255, 0));  // the margin
    EXPECT_EQ(colorAt(image, QPoint(149, 90)), QColor(255, 255, 0));  // between two views
}

TEST(DisplayWidgetTest, LaysOutTheViewsOfAScanSideBySide)
{
    // What the views show lives as long as the widget.
    ReconstructionParameters parameters;
    GlVolumeBoundingBox volumeBox(&parameters);
    FancyMeshManipulator volumeHandles(&volumeBox);
    const std::unique_ptr<Mesh> sphere = fusedSphereMesh(40, 15.0);
    std::unique_ptr<FancyMeshManipulator> meshHandles;

    DisplayHarness harness(960, 540);
    ASSERT_TRUE(harness.ready());
    DisplayWidget& widget = harness.widget();
    widget.setLayoutMode(ViewLayoutMode::Columns);
    widget.setBackgroundColor(QColor(153, 153, 153));
    widget.setSplittersEnabled(false);

    // Two image views' places, framed in red and green.
    for (const QColor& frame : {QColor(255, 0, 0), QColor(0, 255, 0)}) {
        auto* image = new InteractiveView(new CountingView);
        image->drawBorder = true;
        image->borderColor = frame;
        widget.addView(image);
    }

    // The live point cloud inside the volume box with its arrows.
    const TabletopFrame tabletop = tabletopFrame();
    auto* cloud = new GlPointCloudView;
    volumeBox.setExtent({700, 700, 700});
    GlMatrix volumePose = identityGlMatrix();
    volumePose[14] = 1100;
    volumeBox.setMatrix(volumePose);
    volumeHandles.handleSet = ManipulatorHandleSet::Translate;
    cloud->addObject(&volumeBox);
    cloud->addObject(&volumeHandles);
    cloud->setFrame(tabletop.frame.depth.get(), tabletop.frame.colour.get(), tabletop.K);
    const float volumeSize[3] = {700, 700, 700};
    float volumeTransform[16];
    std::copy(volumePose.begin(), volumePose.end(), volumeTransform);
    cloud->setVolumeSize(volumeSize);
    cloud->setVolumeTransform(volumeTransform);
    cloud->volMinDepth = 750.0f / 65535.0f;
    cloud->volMaxDepth = 1450.0f / 65535.0f;
    cloud->setMatrix(viewMatrixLookingAt({1400.0, -1300.0, -900.0}, {0.0, 0.0, 1100.0}));
    auto* cloudView = new InteractiveView(cloud);
    cloudView->setManipulator(&volumeBox, &volumeHandles);
    widget.addView(cloudView);

    // The reconstructed mesh on its grid with the rings to align it.
    auto* meshView = new GlMeshView;
    meshView->mesh->mesh = sphere.get();
    meshView->mesh->setMesh();
    meshView->showGrid = true;
    meshHandles = std::make_unique<FancyMeshManipulator>(meshView->mesh.get());
    meshHandles->handleSet = ManipulatorHandleSet::Rotate;
    meshView->addObject(meshHandles.get());
    const Eigen::Vector3d center = sphere->boundingBoxCenter();
    meshView->setMatrix(viewMatrixLookingAt({center.x() + 40, center.y() - 35, center.z() - 60},
                                            {center.x(), center.y(), center.z()}));
    auto* meshInteractive = new InteractiveView(meshView);
    meshInteractive->setManipulator(meshView->mesh.get(), meshHandles.get());
    widget.addView(meshInteractive);

    const QRectF places[] = {{0.0, 0.5, 0.25, 0.5}, {0.0, 0.0, 0.25, 0.5},
                             {0.25, 0.0, 0.375, 1.0}, {0.625, 0.0, 0.375, 1.0}};
    for (int i = 0; i < 4; ++i) {
        widget.views()[i]->backgroundColor = QColor(74, 74, 74);
        widget.views()[i]->relativeRect = places[i];
    }
    widget.setRelativeLayout(true);
    widget.layout();
    QTemporaryDir folder;
    const QString path = folder.filePath("views.png");
    widget.saveScreenshot(path);
    widget.saveScreenshot(QString::fromStdString(screenshotPath("display_widget_views")));

    const QImage image(path);
    EXPECT_EQ(widget.views()[2]->rect(), corners(240, 0, 599, 539));
    EXPECT_EQ(colorAt(image, widget.views()[0]->rect().center()), QColor(74, 74, 74));
    EXPECT_EQ(colorAt(image, QPoint(1, 400)), QColor(255, 0, 0));  // the frame
    // The sphere shows in colour in the middle of the mesh view.
    Eigen::Vector3d window;
    ASSERT_TRUE(meshView->viewState().project(center.data(), window.data()));
    const QColor middle = colorAt(image, QPoint(int(window.x()), int(window.y())));
    EXPECT_NE(middle.red(), middle.blue());
}

/// The file names in `folder`, sorted.
QStringList filesIn(const QTemporaryDir& folder)
{
    return QDir(folder.path()).entryList(QDir::Files, QDir::Name);
}

TEST(DisplayWidgetTest, RecordsEveryPaintedFrameOrAFrameEvery40Milliseconds)
{
    ColouredViews views(90, 40);
    DisplayHarness& harness = views.harness;
    ASSERT_TRUE(harness.ready());
    DisplayWidget& widget = harness.widget();
    QTemporaryDir folder;
    widget.setRecordingOutputDir(folder.path());
    EXPECT_EQ(widget.framePattern(), folder.filePath("img_%1.png"));

    widget.setRecording(true);
    harness.paint();
    harness.paint();
    widget.setRecording(false);
    harness.paint();
    EXPECT_EQ(filesIn(folder), (QStringList{"img_00000.png", "img_00001.png"}));
    EXPECT_EQ(widget.frameCounter(), 0);
    const QImage frame(folder.filePath("img_00001.png"));
    EXPECT_EQ(colorAt(frame, widget.views()[2]->rect().center()), QColor(0, 0, 255));

    // Continuous recording keeps the per-frame switch as it was.
    QTemporaryDir timed;
    widget.setRecordingOutputDir(timed.path());
    widget.setRecording(true, true, true);
    EXPECT_TRUE(widget.recordsContinuously());
    EXPECT_FALSE(widget.recordsEveryFrame());
    QElapsedTimer elapsed;
    elapsed.start();
    while (filesIn(timed).size() < 2 && elapsed.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    widget.setRecording(false, false, true);
    const QStringList recorded = filesIn(timed);
    ASSERT_GE(recorded.size(), 2);
    EXPECT_EQ(recorded[0], "img_00000.png");
    EXPECT_EQ(recorded[1], "img_00001.png");
    EXPECT_EQ(widget.frameCounter(), recorded.size());  // not reset
    const QImage timedFrame(timed.filePath("img_00000.png"));
    EXPECT_EQ(colorAt(timedFrame, widget.views()[0]->rect().center()), QColor(255, 0, 0));

    // Switching off without arguments stops both kinds and starts the count again.
    widget.setRecording(true, true, true);
    widget.setRecording(false);
    EXPECT_FALSE(widget.recordsContinuously());
    EXPECT_FALSE(widget.recordsEveryFrame());
    EXPECT_EQ(widget.frameCounter(), 0);
}

TEST(DisplayWidgetTest, DraggingTheEdgeBetweenTwoViewsMovesBoth)
{
    DisplayHarness harness(400, 200);
    ASSERT_TRUE(harness.ready());
    DisplayWidget& widget = harness.widget();
    widget.setLayoutMode(ViewLayoutMode::Rows);
    RecordingInteraction left(mouseTypes), right(mouseTypes);
    InteractiveView* a = recordingView(&left);
    InteractiveView* b = recordingView(&right);
    widget.addView(a);
    widget.addView(b);
    ASSERT_EQ(a->rect(), corners(1, 1, 198, 198));
    ASSERT_EQ(b->rect(), corners(201, 1, 398, 198));

    harness.move(QPoint(199, 100));  // on the gap: the size cursor shows
    EXPECT_EQ(widget.cursor().shape(), Qt::SizeHorCursor);
    harness.press(Qt::LeftButton, QPoint(199, 100));
    harness.move(QPoint(224, 100));
    harness.move(QPoint(249, 100));
    harness.release(Qt::LeftButton, QPoint(249, 100));
    EXPECT_EQ(a->rect(), corners(1, 1, 248, 198));
    EXPECT_EQ(b->rect(), corners(251, 1, 398, 198));
    EXPECT_TRUE(widget.relativeLayout());
    EXPECT_TRUE(left.seen.empty());  // the splitter kept every event
    EXPECT_TRUE(right.seen.empty());

    // Far to the right the view narrowed from the left keeps 101 pixels to
    // the widget's right edge, the other one keeps 109.
    harness.move(QPoint(249, 100));
    harness.press(Qt::LeftButton, QPoint(249, 100));
    harness.move(QPoint(395, 100));
    harness.release(Qt::LeftButton, QPoint(395, 100));
    EXPECT_EQ(b->rect(), corners(298, 1, 398, 198));
    EXPECT_EQ(a->rect(), corners(1, 1, 291, 198));

    // The places are kept as fractions: a resize keeps the proportions.
    ASSERT_TRUE(harness.resize(800, 200));
    EXPECT_EQ(a->rect(), corners(2, 1, 583, 198));
    EXPECT_EQ(b->rect(), corners(596, 1, 797, 198));

    // Switched off, the pixels at an edge belong to the views again.
    const QPoint atEdge(583, 100);
    harness.move(atEdge);
    EXPECT_TRUE(left.seen.empty());
    widget.setSplittersEnabled(false);
    harness.move(atEdge);
    EXPECT_EQ(left.seen.size(), 1u);
}

TEST(DisplayWidgetTest, WithShiftOnlyViewsThatLineUpMoveAlong)
{
    for (const bool shift : {false, true}) {
        SCOPED_TRACE(shift ? "Shift" : "no modifier");
        DisplayHarness harness(400, 400);
        ASSERT_TRUE(harness.ready());
        DisplayWidget& widget = harness.widget();
        widget.setLayoutMode(ViewLayoutMode::Rows);
        RecordingInteraction none;
        for (int i = 0; i < 3; ++i)
            widget.addView(recordingView(&none));
        // Two views above one as wide as both.
        const std::vector<QRect> before = rectsOf(widget);
        ASSERT_EQ(before[0], corners(1, 201, 198, 398));
        ASSERT_EQ(before[2], corners(1, 1, 398, 198));

        // The lower edge of the upper left view; the view below spans more
        // than it, which a Shift drag does not move.
        const Qt::KeyboardModifiers modifiers = shift ? Qt::ShiftModifier : Qt::NoModifier;
        harness.move(QPoint(100, 200), modifiers);
        harness.press(Qt::LeftButton, QPoint(100, 200), modifiers);
        harness.move(QPoint(100, 230), modifiers);
        harness.release(Qt::LeftButton, QPoint(100, 230), modifiers);
        if (shift) {
            EXPECT_EQ(rectsOf(widget), before);
        } else {
            EXPECT_EQ(rectsOf(widget), (std::vector<QRect>{corners(1, 231, 198, 398),
                                                           corners(201, 231, 398, 398),
                                                           corners(1, 1, 398, 228)}));
        }
    }
}

/// An overlay that records what it is offered and consumes presses, moves
/// and releases.
class RecordingOverlay : public InteractiveOverlay {
public:
    using InteractiveOverlay::InteractiveOverlay;
    bool handleEvent(QEvent* event) override
    {
        if (!mouseTypes.count(event->type()))
            return false;
        seen.push_back(event->type());
        return true;
    }
    void paint() override { ++paints; }
    std::vector<QEvent::Type> seen;
    int paints = 0;
};

TEST(DisplayWidgetTest, OverlaysStackInTheirCornersAndHearEventsBeforeTheViews)
{
    DisplayHarness harness(300, 200);
    ASSERT_TRUE(harness.ready());
    DisplayWidget& widget = harness.widget();
    RecordingInteraction interaction(mouseTypes);
    InteractiveView* view = recordingView(&interaction);
    widget.setLayoutMode(ViewLayoutMode::Rows);
    widget.addView(view);
    ASSERT_EQ(view->rect(), corners(1, 1, 298, 198));

    auto* first = new RecordingOverlay(50, 20);
    auto* second = new RecordingOverlay(40, 30);
    auto* onView = new RecordingOverlay(60, 10);
    first->setAnchorPoint(InteractiveOverlay::UpperLeft);
    second->setAnchorPoint(InteractiveOverlay::UpperLeft);
    onView->setAnchorPoint(InteractiveOverlay::LowerRight);
    onView->setAnchorView(view);
    widget.addOverlay(first);
    widget.addOverlay(second);
    widget.addOverlay(onView);
    EXPECT_EQ(first->rect(), QRect(3, 176, 50, 20));
    EXPECT_EQ(second->rect(), QRect(3, 146, 40, 30));  // stacked below the first
    EXPECT_EQ(onView->rect(), QRect(235, 4, 60, 10));

    // A press on an overlay makes it hold the mouse; the view hears nothing.
    harness.press(Qt::LeftButton, QPoint(10, 180));
    harness.move(QPoint(150, 100));
    harness.release(Qt::LeftButton, QPoint(150, 100));
    EXPECT_EQ(first->seen, (std::vector<QEvent::Type>{QEvent::MouseButtonPress, QEvent::MouseMove,
                                                       QEvent::MouseButtonRelease}));
    EXPECT_TRUE(interaction.seen.empty());
    harness.move(QPoint(150, 100));
    EXPECT_EQ(interaction.seen.size(), 1u);

    // Hiding the anchor view hides its overlays from events and paints.
    const int paints = onView->paints;
    harness.paint();
    EXPECT_EQ(onView->paints, paints + 1);
    view->setVisible(false);
    harness.paint();
    harness.move(QPoint(250, 8));
    EXPECT_EQ(onView->paints, paints + 1);
    EXPECT_TRUE(onView->seen.empty());
}

}  // namespace
}  // namespace Veltrane
