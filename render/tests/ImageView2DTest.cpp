#include "render/ImageView2D.h"

#include "DisplayTestSupport.h"
#include "RenderTestSupport.h"
#include "core/SharedImage.h"
#include "core/SharedImageSet.h"
#include "render/GlColormap.h"
#include "render/GlSlice.h"
#include "render/GlSliceView.h"
#include "render/InteractionView2D.h"
#include "testsupport/LogCapture.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>

namespace Veltrane {
namespace {

std::vector<float> countsIn(std::initializer_list<std::pair<int, float>> bins)
{
    std::vector<float> counts(256, 0.0f);
    for (const auto& [bin, count] : bins)
        counts[static_cast<std::size_t>(bin)] = count;
    return counts;
}

TEST(ImageView2D, AutoWindowingCutsTheLimitsOffBothEnds)
{
    struct Case {
        const char* what;
        std::vector<float> counts;
        double window, level;
        bool identicalBins;
    };
    const Case cases[] = {
        {"all in bin 100", countsIn({{100, 1000}}), 1 / 255.0, 100.5 / 255, true},
        {"all black", countsIn({{0, 1000}}), 1 / 255.0, 0.5 / 255, true},
        {"all white", countsIn({{255, 1000}}), 1 / 255.0, 254.5 / 255, true},
        // 2 % of 2560 is 51.2: bins 0 ... 4 hold 50, bin 5 passes the limit.
        {"ten in every bin", std::vector<float>(256, 10.0f), 245 / 255.0, 0.5, false},
        {"two peaks", countsIn({{20, 500}, {200, 500}}), 180 / 255.0, 110 / 255.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        long long samples = 0;
        for (float count : c.counts)
            samples += static_cast<long long>(count);
        const Windowing windowing = autoWindowing(c.counts, samples, 0.02, 0.02);
        EXPECT_NEAR(windowing.window, c.window, 1e-12);
        EXPECT_NEAR(windowing.level, c.level, 1e-12);
        EXPECT_EQ(log.contains("WARN AutoWindowing: Lower and upper bin identical"),
                  c.identicalBins);
    }
}

TEST(ImageView2D, AutoWindowingWarnsOfAWindowTurnedInsideOut)
{
    LogCapture log;
    const Windowing windowing = autoWindowing(std::vector<float>(256, 10.0f), 2560, 0.6, 0.6);
    EXPECT_LT(windowing.window, 0.0);
    EXPECT_TRUE(log.contains("WARN AutoWindowing: Negative window"));
}

/// An image view in a display widget of its own, with its context current.
class ImageView2DTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(harness.ready());
        view = new ImageView2D(-1);
        harness.widget().addView(view);
    }

    DisplayHarness harness{200, 100};
    ImageView2D* view = nullptr;
};

TEST_F(ImageView2DTest, ConstructionInstallsTheInteractionAndTheFrameColour)
{
    EXPECT_EQ(view->interaction, view->interaction2D());
    EXPECT_EQ(view->sliceView(), view->glView());
    EXPECT_EQ(view->borderColor, QColor(255, 255, 255)) << "orientation -1 keeps the default";
    const std::pair<int, QColor> frames[] = {
        {0, QColor(255, 0, 0)}, {1, QColor(0, 255, 0)}, {2, QColor(0, 0, 255)}};
    for (const auto& [orientation, colour] : frames) {
        ImageView2D oriented(orientation);
        EXPECT_EQ(oriented.borderColor, colour);
        EXPECT_EQ(oriented.slice()->plane().matrix, SlicePlane(orientation).matrix);
    }
    for (const char* key : {"Reset", "Hide", "Flip", "Use Shader", "Color Blending", "Orig",
                            "Nearest", "Linear", "Cubic", "Default", "Jet", "Move Image",
                            "Edit Windowing", "Auto Windowing", "Show Histogram"})
        EXPECT_TRUE(view->actions().value(key)) << key;
    EXPECT_EQ(view->actions().value("Flip")->shortcut(), QKeySequence(Qt::Key_F));
}

/// Records the change signals of a view and updateRequested(), in order,
/// while it exists.
class SignalLog : public QObject {
public:
    explicit SignalLog(ImageView2D& view)
    {
        const auto record = [this](const char* name) {
            return [this, name] { names.emplace_back(name); };
        };
        connect(&view, &ImageView2D::interpolationChanged, this, record("interpolation"));
        connect(&view, &ImageView2D::flipChanged, this, record("flip"));
        connect(&view, &ImageView2D::blendChanged, this, record("blend"));
        connect(&view, &ImageView2D::blendFactorChanged, this, record("blendFactor"));
        connect(&view, &ImageView2D::scaleChanged, this, record("scale"));
        connect(&view, &ImageView2D::zoomChanged, this, record("zoom"));
        connect(&view, &ImageView2D::pixelZoomChanged, this, record("pixelZoom"));
        connect(&view, &ImageView2D::windowChanged, this, record("window"));
        connect(&view, &ImageView2D::levelChanged, this, record("level"));
        connect(&view, &ImageView2D::gammaChanged, this, record("gamma"));
        connect(&view, &ImageView2D::updateRequested, this, record("update"));
    }

    std::vector<std::string> names;
};

TEST_F(ImageView2DTest, PropertiesSignalOncePerChangeAndNotForTheSameValue)
{
    struct Case {
        const char* property;
        QVariant value;
        QVariant stored;
        bool signalled;
    };
    const Case cases[] = {
        {"interpolation", 1, 1, false},
        {"interpolation", 2, 2, true},
        {"interpolation", 5, 2, false},
        {"interpolation", -3, 0, true},
        {"flip", false, false, false},
        {"flip", true, true, true},
        {"blend", true, true, true},
        {"blendFactor", 0.5, 0.5, false},
        {"blendFactor", 2.0, 1.0, true},
        {"blendFactor", 3.0, 1.0, false},
        {"scale", 1.0, 1.0, false},
        {"scale", 3.0, 3.0, true},
        {"zoom", 1.0, 1.0, false},
        {"zoom", 0.5, 0.5, true},
        {"window", 1.0, 1.0, false},
        {"window", 0.25, 0.25, true},
        {"window", 0.0, ImageView2D::minimumWindow, true},
        {"window", -1.0, ImageView2D::minimumWindow, false},
        {"level", 0.5, 0.5, false},
        {"level", 0.75, 0.75, true},
        {"gamma", 1.0, 1.0, false},
        {"gamma", 2.2, 2.2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.property) + " = " + c.value.toString().toStdString());
        SignalLog log(*view);
        ASSERT_TRUE(view->setProperty(c.property, c.value));
        EXPECT_EQ(view->property(c.property), c.stored);
        const std::vector<std::string> expected =
            c.signalled ? std::vector<std::string>{c.property, "update"}
                        : std::vector<std::string>{};
        EXPECT_EQ(log.names, expected);
    }
    view->setLowerLimit(0.1);
    view->setUpperLimit(0.3);
    EXPECT_EQ(view->property("lowerLimit").toDouble(), 0.1);
    EXPECT_EQ(view->property("upperLimit").toDouble(), 0.3);
}

TEST_F(ImageView2DTest, PixelZoomSignalsOnlyWhenItChangesTheView)
{
    auto image = memoryImage<unsigned char>(400, 100, 1, 1, std::vector<unsigned char>(40000, 7));
    view->slice()->setImage(image.get());
    harness.paint();
    EXPECT_FALSE(view->pixelZoom());
    SignalLog log(*view);
    view->setPixelZoom(false);
    EXPECT_TRUE(log.names.empty());
    view->setPixelZoom(true);
    EXPECT_TRUE(view->pixelZoom());
    EXPECT_EQ(log.names, (std::vector<std::string>{"pixelZoom", "update"}));
    view->setPixelZoom(true);
    EXPECT_EQ(log.names.size(), 2u);
}

TEST_F(ImageView2DTest, AutoWindowingSetsWindowAndLevelFromTheFocusImage)
{
    // Half the pixels at 51, half at 153: the window runs from bin 51 to 153.
    std::vector<unsigned char> values(100, 51);
    std::fill(values.begin() + 50, values.end(), 153);
    auto image = memoryImage<unsigned char>(10, 10, 1, 1, values);
    view->slice()->setImage(image.get());
    SignalLog log(*view);
    view->setAutoWindowing();
    EXPECT_NEAR(view->window(), 102 / 255.0, 1e-12);
    EXPECT_NEAR(view->level(), 102 / 255.0, 1e-12);
    EXPECT_EQ(log.names, (std::vector<std::string>{"window", "update", "level", "update"}));

    // Limits that cross over give no window inside out.
    view->setLowerLimit(0.6);
    view->setUpperLimit(0.6);
    LogCapture warnings;
    view->setAutoWindowing();
    EXPECT_TRUE(warnings.contains("WARN AutoWindowing: Negative window"));
    EXPECT_EQ(view->window(), ImageView2D::minimumWindow);
}

TEST_F(ImageView2DTest, AutoWindowingLeavesTheWindowAloneWithoutPixels)
{
    auto empty = memoryImage<unsigned char>(0, 0, 1, 1, {});
    view->slice()->setImage(empty.get());
    view->setWindow(0.3);
    LogCapture log;
    view->setAutoWindowing();
    EXPECT_EQ(view->window(), 0.3);
    EXPECT_EQ(view->level(), 0.5);
    EXPECT_TRUE(log.contains("WARN AutoWindowing: Empty histogram"));

    view->slice()->setImages(nullptr);
    view->setAutoWindowing();  // no image at all
    EXPECT_EQ(view->window(), 0.3);
}

/// The texts of a menu's entries, submenus as "name>", separators as "-".
std::vector<std::string> entries(const QMenu& menu)
{
    std::vector<std::string> texts;
    for (QAction* action : menu.actions()) {
        if (action->isSeparator())
            texts.emplace_back("-");
        else if (action->menu())
            texts.push_back(action->text().toStdString() + ">");
        else
            texts.push_back(action->text().toStdString() + (action->isChecked() ? "*" : ""));
    }
    return texts;
}

TEST_F(ImageView2DTest, ContextMenuListsTheImageActions)
{
    view->showContextMenu = true;
    {
        QMenu menu;
        view->addContextMenuActions(&menu);
        EXPECT_EQ(entries(menu),
                  (std::vector<std::string>{"Reset", "Hide", "-", "Flip", "Use Shader*",
                                            "Color Blending", "Original Size", "-",
                                            "Auto Windowing", "-", "Interpolation>",
                                            "Colormapping>", "Move Image"}));
        const QList<QAction*> actions = menu.actions();
        EXPECT_EQ(entries(*actions[10]->menu()),
                  (std::vector<std::string>{"Nearest", "Linear*", "Cubic"}));
        EXPECT_EQ(entries(*actions[11]->menu()), (std::vector<std::string>{"Default*", "Jet"}));
    }
    // The windowing editor and the histogram are offered once someone listens.
    QObject listener;
    QObject::connect(view, &ImageView2D::windowingEditorRequested, &listener, [] {});
    QObject::connect(view, &ImageView2D::showHistogramRequested, &listener, [](bool) {});
    view->setFlip(true);
    view->setInterpolation(2);
    QMenu menu;
    view->addContextMenuActions(&menu);
    const std::vector<std::string> texts = entries(menu);
    EXPECT_EQ(std::vector<std::string>(texts.begin() + 3, texts.begin() + 11),
              (std::vector<std::string>{"Flip*", "Use Shader*", "Color Blending", "Original Size",
                                        "-", "Edit Windowing", "Auto Windowing",
                                        "Show Histogram"}));
    EXPECT_EQ(entries(*menu.actions()[12]->menu()),
              (std::vector<std::string>{"Nearest", "Linear", "Cubic*"}));
}

TEST_F(ImageView2DTest, ChosenActionsChangeTheView)
{
    view->showContextMenu = true;
    QMenu menu;
    view->addContextMenuActions(&menu);  // brings the checked states up to date
    const auto choose = [&](const char* key) {
        QAction* action = view->actions().value(key);
        action->trigger();  // toggles a checkable action, as a click does
    };
    choose("Nearest");
    EXPECT_EQ(view->interpolation(), 0);
    choose("Cubic");
    EXPECT_EQ(view->interpolation(), 2);

    choose("Flip");
    EXPECT_TRUE(view->flip());
    choose("Color Blending");
    EXPECT_TRUE(view->blend());
    choose("Use Shader");  // was checked: switched off
    EXPECT_FALSE(view->slice()->useShader());

    choose("Jet");
    ASSERT_TRUE(view->colormap());
    EXPECT_EQ(view->slice()->colormap, view->colormap());
    EXPECT_EQ(view->colormap()->width, 256);
    choose("Default");
    EXPECT_FALSE(view->colormap());
    EXPECT_FALSE(view->slice()->colormap);

    choose("Move Image");
    EXPECT_EQ(view->interaction2D()->moveImage, 1);
    choose("Move Image");
    EXPECT_EQ(view->interaction2D()->moveImage, 0);

    QSignalSpy editor(view, &ImageView2D::windowingEditorRequested);
    QSignalSpy histogram(view, &ImageView2D::showHistogramRequested);
    choose("Edit Windowing");
    choose("Show Histogram");
    EXPECT_EQ(editor.count(), 1);
    ASSERT_EQ(histogram.count(), 1);
    EXPECT_EQ(histogram.front().front().toBool(), true);

    harness.key(Qt::Key_F);  // the shortcut of "Flip"
    EXPECT_FALSE(view->flip());
}

}  // namespace
}  // namespace Veltrane
