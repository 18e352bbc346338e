#include "render/ViewGroup.h"

#include "DisplayTestSupport.h"
#include "render/InteractiveView.h"
#include "testsupport/GlTest.h"

#include <QSignalSpy>

#include <algorithm>

namespace Veltrane {

/// A view with a zoom property whose setter ignores an unchanged value, and
/// a level property without a change signal.
class ZoomView : public InteractiveView {
    Q_OBJECT
    Q_PROPERTY(double zoom READ zoom WRITE setZoom NOTIFY zoomChanged)
    Q_PROPERTY(double level READ level WRITE setLevel)

public:
    ZoomView() : InteractiveView(new CountingView) {}
    double zoom() const { return m_zoom; }
    double level() const { return m_level; }
    int zoomChanges = 0;

public slots:
    void setZoom(double zoom)
    {
        if (zoom == m_zoom)
            return;
        m_zoom = zoom;
        ++zoomChanges;
        emit zoomChanged(zoom);
    }
    void setLevel(double level) { m_level = level; }

signals:
    void zoomChanged(double zoom);

private:
    double m_zoom = 1.0;
    double m_level = 0.5;
};

namespace {

// QObjects need the QApplication that the GL test context makes.
using ViewGroupTest = GlTest;

bool links(const InteractiveView& from, const InteractiveView& to)
{
    const auto& linked = from.glView()->linkedViews();
    return std::find(linked.begin(), linked.end(), to.glView()) != linked.end();
}

TEST_F(ViewGroupTest, GroupedViewsPassAPropertyOnWithoutLooping)
{
    ZoomView a, b, c;
    ViewGroup group({"zoom", "level", "missing"});
    QSignalSpy added(&group, &ViewGroup::viewAdded);
    group.addView(&a);
    group.addView(&b);
    group.addView(&c);
    group.addView(&b);  // already there
    group.addView(nullptr);
    EXPECT_EQ(added.count(), 3);
    EXPECT_EQ(group.views(), (QList<InteractiveView*>{&a, &b, &c}));
    EXPECT_TRUE(links(a, b) && links(b, a) && links(a, c) && links(c, b));
    EXPECT_FALSE(links(a, a));

    b.setZoom(2.0);
    EXPECT_EQ(a.zoom(), 2.0);
    EXPECT_EQ(c.zoom(), 2.0);
    EXPECT_EQ(a.zoomChanges + b.zoomChanges + c.zoomChanges, 3);  // once each

    // A property without a change signal is not passed on.
    b.setLevel(0.9);
    EXPECT_EQ(a.level(), 0.5);

    // A view that left is on its own again.
    QSignalSpy removed(&group, &ViewGroup::viewRemoved);
    group.removeView(&c);
    group.removeView(&c);
    EXPECT_EQ(removed.count(), 1);
    EXPECT_FALSE(group.contains(&c));
    EXPECT_FALSE(links(a, c) || links(c, a) || links(c, b));
    EXPECT_TRUE(links(a, b));
    c.setZoom(3.0);
    EXPECT_EQ(a.zoom(), 2.0);
    a.setZoom(4.0);
    EXPECT_EQ(b.zoom(), 4.0);
    EXPECT_EQ(c.zoom(), 3.0);
}

TEST_F(ViewGroupTest, ConnectingNeedsAChangeSignalAndAMatchingSetter)
{
    ZoomView a;
    InteractiveView plain(new CountingView);
    EXPECT_TRUE(ViewGroup::connectProperty("zoom", &a, &a));
    EXPECT_TRUE(ViewGroup::disconnectProperty("zoom", &a, &a));
    EXPECT_FALSE(ViewGroup::disconnectProperty("zoom", &a, &a));
    EXPECT_FALSE(ViewGroup::connectProperty("level", &a, &a));   // no change signal
    EXPECT_FALSE(ViewGroup::connectProperty("zoom", &a, &plain));  // no setter there
    EXPECT_FALSE(ViewGroup::connectProperty("width", &a, &a));   // no such property
}

TEST_F(ViewGroupTest, ResetAllResetsEveryMember)
{
    ZoomView a, b;
    RecordingInteraction first, second;
    a.interaction = &first;
    b.interaction = &second;
    ViewGroup group({});
    group.addView(&a);
    group.addView(&b);
    EXPECT_FALSE(group.contains(nullptr));
    group.resetAll();
    EXPECT_EQ(first.resets, 1);
    EXPECT_EQ(second.resets, 1);
}

}  // namespace
}  // namespace Veltrane

#include "ViewGroupTest.moc"
