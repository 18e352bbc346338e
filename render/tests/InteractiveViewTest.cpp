#include "render/InteractiveView.h"

#include "DisplayTestSupport.h"
#include "RenderTestSupport.h"
#include "render/Manipulator.h"
#include "render/ViewGroup.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QWheelEvent>

#include <memory>

namespace Veltrane {
namespace {

/// A view over a scene that draws nothing, with access to that scene.
struct CountedView {
    CountedView() : scene(new CountingView), view(scene) {}
    CountingView* scene;
    InteractiveView view;
};

QRect corners(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

QStringList menuTexts(const QMenu& menu)
{
    QStringList texts;
    for (const QAction* action : menu.actions())
        texts << action->text();
    return texts;
}

// Widgets and actions need the QApplication that the GL test context makes.
using InteractiveViewTest = GlTest;

TEST_F(InteractiveViewTest, BackgroundFillsTheRectangleAndTheFrameRunsOnePixelInside)
{
    GlRenderTarget target(120, 70);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    CountedView counted;
    InteractiveView& view = counted.view;
    view.drawBorder = true;
    view.backgroundColor = QColor(74, 74, 74);
    view.borderColor = QColor(255, 0, 0);
    view.setRect(corners(10, 10, 109, 59));  // 100 x 50
    view.paint();
    target.saveScreenshot("interactive_view_frame");

    EXPECT_EQ(counted.scene->width(), 96);
    EXPECT_EQ(counted.scene->height(), 46);
    const Rgb grey{74, 74, 74}, red{255, 0, 0}, black{0, 0, 0};
    EXPECT_EQ(pixel(target, 10, 10), grey);   // corner of the rectangle
    EXPECT_EQ(pixel(target, 109, 59), grey);  // opposite corner
    EXPECT_EQ(pixel(target, 9, 30), black);   // just outside
    EXPECT_EQ(pixel(target, 110, 30), black);
    EXPECT_TRUE(colorNearby(target, 11, 30, red, 0));   // left side of the frame
    EXPECT_TRUE(colorNearby(target, 60, 11, red, 0));   // bottom side
    EXPECT_TRUE(colorNearby(target, 108, 30, red, 0));  // right side
    EXPECT_EQ(pixel(target, 60, 30), grey);
    EXPECT_EQ(counted.scene->renders, 1);
}

TEST_F(InteractiveViewTest, AHiddenViewNeitherPaintsNorInitialisesItsScene)
{
    GlRenderTarget target(40, 40);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    CountedView counted;
    counted.view.backgroundColor = QColor(0, 0, 255);
    counted.view.setRect(corners(0, 0, 39, 39));
    counted.view.setVisible(false);
    counted.view.paint();
    EXPECT_EQ(pixel(target, 20, 20), (Rgb{0, 0, 0}));
    EXPECT_EQ(counted.scene->initializations, 0);
    EXPECT_FALSE(counted.view.glInitialized());

    counted.view.setVisible(true);
    counted.view.paint();
    counted.view.paint();
    EXPECT_EQ(pixel(target, 20, 20), (Rgb{0, 0, 255}));
    EXPECT_EQ(counted.scene->initializations, 1);
    EXPECT_EQ(counted.scene->renders, 2);
    EXPECT_TRUE(counted.view.glInitialized());
}

TEST_F(InteractiveViewTest, ANewRectangleResizesTheSceneOnce)
{
    const struct {
        bool border;
        QRect rect;
        int width, height;
    } cases[] = {
        {false, corners(0, 0, 99, 49), 100, 50},
        {true, corners(0, 0, 99, 49), 96, 46},
        {true, corners(10, 20, 12, 20), 0, 0},  // no room for a frame
    };
    for (const auto& c : cases) {
        CountedView counted;
        counted.view.drawBorder = c.border;
        QSignalSpy changes(&counted.view, &InteractiveView::rectChanged);
        counted.view.setRect(c.rect);
        counted.view.setRect(c.rect);
        EXPECT_EQ(changes.count(), 1);
        EXPECT_EQ(counted.scene->resizes, 1);
        EXPECT_EQ(counted.scene->width(), c.width);
        EXPECT_EQ(counted.scene->height(), c.height);
        EXPECT_EQ(counted.view.property("rect").toRect(), c.rect);
    }
}

TEST_F(InteractiveViewTest, VisibilitySignalsOnlyChanges)
{
    CountedView counted;
    QSignalSpy changes(&counted.view, &InteractiveView::visibilityChanged);
    counted.view.setVisible(true);
    counted.view.setVisible(false);
    counted.view.setVisible(false);
    counted.view.setVisible(true);
    ASSERT_EQ(changes.count(), 2);
    EXPECT_FALSE(changes.at(0).at(0).toBool());
    EXPECT_TRUE(changes.at(1).at(0).toBool());
}

/// A manipulator that consumes what it is told to and counts what it saw.
class CountingManipulator : public Manipulator {
public:
    explicit CountingManipulator(bool consume) : m_consume(consume) {}
    bool handleEvent(QEvent* /*event*/, GlView* /*view*/) override
    {
        ++seen;
        return m_consume;
    }
    int seen = 0;

private:
    bool m_consume;
};

/// A scene object that draws nothing.
class Marker : public GlObject {
public:
    void draw() override {}
};

TEST_F(InteractiveViewTest, ManipulatorsAreAskedInTheOrderOfTheSceneObjectsBeforeTheInteraction)
{
    CountedView counted;
    Marker first, second, absent;
    counted.scene->addObject(&first);
    counted.scene->addObject(&second);
    CountingManipulator onFirst(false), onSecond(true), onAbsent(true);
    // Registered out of order: the scene's order decides.
    counted.view.setManipulator(&second, &onSecond);
    counted.view.setManipulator(&absent, &onAbsent);
    counted.view.setManipulator(&first, &onFirst);
    RecordingInteraction interaction({QEvent::MouseButtonPress});
    counted.view.interaction = &interaction;
    QSignalSpy updates(&counted.view, &InteractiveView::updateRequested);

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), QPointF(5, 5),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    EXPECT_TRUE(counted.view.handleEvent(&press));
    EXPECT_EQ(onFirst.seen, 1);
    EXPECT_EQ(onSecond.seen, 1);
    EXPECT_EQ(onAbsent.seen, 0);  // its object is not in the scene
    EXPECT_TRUE(interaction.seen.empty());
    EXPECT_EQ(updates.count(), 1);

    // Without the consuming manipulator the interaction gets the event.
    counted.view.setManipulator(&second, nullptr);
    EXPECT_TRUE(counted.view.handleEvent(&press));
    EXPECT_EQ(onSecond.seen, 1);
    EXPECT_EQ(interaction.seen.size(), 1u);
    EXPECT_EQ(updates.count(), 2);
}

TEST_F(InteractiveViewTest, AViewWithNothingToAskConsumesNothing)
{
    CountedView counted;
    QSignalSpy updates(&counted.view, &InteractiveView::updateRequested);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), QPointF(5, 5),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    EXPECT_FALSE(counted.view.handleEvent(&press));
    EXPECT_FALSE(counted.view.handleEvent(&key));
    EXPECT_EQ(updates.count(), 0);
}

TEST_F(InteractiveViewTest, TheResetShortcutFiresOnThePlainKey)
{
    CountedView counted;
    RecordingInteraction interaction;
    counted.view.interaction = &interaction;
    const struct {
        QEvent::Type type;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool consumed;
    } cases[] = {
        {QEvent::KeyPress, Qt::Key_R, Qt::NoModifier, true},
        {QEvent::KeyPress, Qt::Key_R, Qt::ShiftModifier, true},  // the key alone counts
        {QEvent::KeyRelease, Qt::Key_R, Qt::NoModifier, false},
        {QEvent::KeyPress, Qt::Key_T, Qt::NoModifier, false},
    };
    int expectedResets = 0;
    for (const auto& c : cases) {
        QKeyEvent key(c.type, c.key, c.modifiers);
        EXPECT_EQ(counted.view.handleEvent(&key), c.consumed);
        expectedResets += c.consumed;
        EXPECT_EQ(interaction.resets, expectedResets);
    }
}

TEST_F(InteractiveViewTest, TheFilterSwallowsWhatItsFlagsDoNotPass)
{
    const QPointF at(3, 3);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, at, Qt::LeftButton, Qt::LeftButton, {});
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, at, Qt::LeftButton, {}, {});
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, at, at, at, Qt::LeftButton,
                            Qt::LeftButton, {});
    QMouseEvent move(QEvent::MouseMove, at, at, at, Qt::NoButton, {}, {});
    QKeyEvent keyPress(QEvent::KeyPress, Qt::Key_A, {});
    QKeyEvent keyRelease(QEvent::KeyRelease, Qt::Key_A, {});
    QContextMenuEvent menu(QContextMenuEvent::Other, at.toPoint(), at.toPoint());
    QWheelEvent wheel(at, at, QPoint(), QPoint(0, 120), {}, {}, Qt::NoScrollPhase, false);
    QEvent* mouseEvents[] = {&press, &release, &doubleClick, &move};
    QEvent* keyEvents[] = {&keyPress, &keyRelease};

    const struct {
        int flags;
        bool mouse, keys, menu;
    } cases[] = {
        {0, true, true, true},    {1, false, true, false},  {2, true, false, false},
        {3, false, false, false}, {4, false, false, false}, {7, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "passFlags " << c.flags);
        InteractionFilter filter(c.flags);
        for (QEvent* event : mouseEvents) {
            event->setAccepted(false);
            EXPECT_EQ(filter.handleEvent(event), c.mouse);
            EXPECT_EQ(event->isAccepted(), c.mouse);
        }
        for (QEvent* event : keyEvents)
            EXPECT_EQ(filter.handleEvent(event), c.keys);
        EXPECT_EQ(filter.handleEvent(&menu), c.menu);
        EXPECT_FALSE(filter.handleEvent(&wheel));
    }
}

TEST_F(InteractiveViewTest, ContextMenuEntriesNeedTheFlagAndSynchronizeAGroup)
{
    CountedView counted;
    QMenu menu;
    counted.view.addContextMenuActions(&menu);
    EXPECT_TRUE(menu.isEmpty());

    counted.view.showContextMenu = true;
    counted.view.addContextMenuActions(&menu);
    EXPECT_EQ(menuTexts(menu), (QStringList{"Reset", "Hide"}));

    ViewGroup group({});
    counted.view.viewGroup = &group;
    QMenu grouped;
    counted.view.addContextMenuActions(&grouped);
    EXPECT_EQ(menuTexts(grouped), (QStringList{"Reset", "Hide", "Synchronize"}));
    EXPECT_FALSE(counted.view.actions().value("Synchronize")->isChecked());
    EXPECT_TRUE(counted.view.actions().contains("Fullscreen"));  // built, never offered
}

TEST_F(InteractiveViewTest, ChosenActionsHideResetAndSynchronize)
{
    CountedView a, b;
    RecordingInteraction aInteraction, bInteraction;
    a.view.interaction = &aInteraction;
    b.view.interaction = &bInteraction;
    QSignalSpy hidden(&a.view, &InteractiveView::visibilityChanged);

    a.view.actions().value("Hide")->trigger();
    a.view.actions().value("Hide")->trigger();  // already hidden: nothing more
    EXPECT_FALSE(a.view.visible());
    EXPECT_EQ(hidden.count(), 1);

    a.view.actions().value("Reset")->trigger();  // not in a group: this view alone
    EXPECT_EQ(aInteraction.resets, 1);
    EXPECT_EQ(bInteraction.resets, 0);

    ViewGroup group({});
    a.view.viewGroup = &group;
    b.view.viewGroup = &group;
    b.view.actions().value("Synchronize")->trigger();  // checks it: joins
    a.view.actions().value("Synchronize")->trigger();
    EXPECT_EQ(group.views().size(), 2);
    b.view.actions().value("Reset")->trigger();  // resets the whole group
    EXPECT_EQ(aInteraction.resets, 2);
    EXPECT_EQ(bInteraction.resets, 1);

    b.view.actions().value("Synchronize")->trigger();  // unchecks it: leaves
    EXPECT_FALSE(group.contains(&b.view));
    b.view.actions().value("Fullscreen")->trigger();  // does nothing
    EXPECT_TRUE(b.view.visible());
}

}  // namespace
}  // namespace Veltrane
