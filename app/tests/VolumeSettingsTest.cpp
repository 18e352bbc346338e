#include "AppTestSupport.h"
#include "MainWindowProbe.h"

#include "reconstruction/ReconstructionParameters.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

#include <functional>

namespace Veltrane {
namespace {

/// One window for the whole suite, in capture mode.
class VolumeSettingsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        answers = std::make_unique<MessageBoxLog>();
        window = std::make_unique<MainWindow>();
        ASSERT_TRUE(waitUntil([] { return MainWindowProbe::captureStarted(*window); }, 20000));
    }
    static void TearDownTestSuite()
    {
        window.reset();
        answers.reset();
    }

    template <typename T = QPushButton>
    static T* child(const char* name)
    {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    static ReconstructionParameters& parameters() { return *MainWindowProbe::parameters(*window); }
    static std::string checkedIn(std::initializer_list<const char*> names)
    {
        for (const char* name : names) {
            if (child(name)->isChecked())
                return name;
        }
        return "none";
    }
    static std::string checkedSize()
    {
        return checkedIn({"pushButtonVolSizeSmall", "pushButtonVolSizeNormal", "pushButtonVolSizeLarge",
                          "pushButtonVolSizeHead", "pushButtonVolSizeFullBody",
                          "pushButtonVolSizeUserDefined"});
    }
    static std::string checkedResolution()
    {
        return checkedIn({"pushButtonVolResLow", "pushButtonVolResNormal", "pushButtonVolResHigh",
                          "pushButtonVolResUserDefined"});
    }

    static std::unique_ptr<MessageBoxLog> answers;
    static std::unique_ptr<MainWindow> window;
};

std::unique_ptr<MessageBoxLog> VolumeSettingsTest::answers;
std::unique_ptr<MainWindow> VolumeSettingsTest::window;

TEST_F(VolumeSettingsTest, StartsWithTheFormsPresetsOneMetreInFront)
{
    EXPECT_EQ(parameters().volumeSize, (std::array<double, 3>{1000, 1000, 1000}));
    EXPECT_EQ(parameters().volumeResolution, (std::array<int, 3>{256, 256, 256}));
    EXPECT_EQ(parameters().volumePose(),
              (std::array<double, 16>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1000, 1}));
    EXPECT_EQ(checkedSize(), "pushButtonVolSizeSmall");
    EXPECT_EQ(checkedResolution(), "pushButtonVolResNormal");
    EXPECT_EQ(child<QLabel>("labelVolRes")->text(), "256 voxels");
    EXPECT_EQ(child<QLabel>("labelVoxelResolution")->text(), "3.9 mm");
    EXPECT_EQ(child<QSpinBox>("spinBoxVolPosZ")->value(), 100);
}

TEST_F(VolumeSettingsTest, PresetsSlidersAndSizeBoxesGiveTheirFigures)
{
    using Action = std::function<void()>;
    auto click = [](const char* name) { return Action([name] { child(name)->click(); }); };
    auto slide = [](int value) { return Action([value] { child<QSlider>("sliderVolRes")->setValue(value); }); };
    auto type = [](const char* name, int value) {
        return Action([name, value] { child<QSpinBox>(name)->setValue(value); });
    };
    struct Case {
        const char* name;
        std::vector<Action> actions;
        std::array<int, 3> resolution;
        std::array<double, 3> size;
        const char* sizeButton;
        const char* resolutionButton;
        int slider;
        const char* voxel;
        bool red;
    };
    const Case cases[] = {
        {"body at default", {click("pushButtonVolResNormal"), click("pushButtonVolSizeFullBody")},
         {90, 256, 90}, {700, 2000, 700}, "pushButtonVolSizeFullBody", "pushButtonVolResNormal", 4,
         "7.8 mm", false},
        {"small at high", {click("pushButtonVolSizeSmall"), click("pushButtonVolResHigh")},
         {512, 512, 512}, {1000, 1000, 1000}, "pushButtonVolSizeSmall", "pushButtonVolResHigh", 8,
         "2.0 mm", false},
        {"head at high", {click("pushButtonVolSizeHead")}, {512, 512, 512}, {400, 400, 400},
         "pushButtonVolSizeHead", "pushButtonVolResHigh", 8, "0.8 mm", true},
        {"150 cm typed into default", {click("pushButtonVolResNormal"), click("pushButtonVolSizeNormal"),
                                       type("spinBoxVolSizeX", 150)},
         {192, 256, 256}, {1500, 2000, 2000}, "pushButtonVolSizeUserDefined", "pushButtonVolResNormal", 4,
         "7.8 mm", false},
        {"a custom size stays custom on a preset's figures", {type("spinBoxVolSizeX", 200)},
         {256, 256, 256}, {2000, 2000, 2000}, "pushButtonVolSizeUserDefined", "pushButtonVolResNormal", 4,
         "7.8 mm", false},
        {"slider to 3 from default", {click("pushButtonVolSizeLarge"), slide(3)}, {192, 192, 192},
         {4000, 4000, 4000}, "pushButtonVolSizeLarge", "pushButtonVolResUserDefined", 3, "20.8 mm", false},
        {"slider to 8 while custom", {slide(8)}, {512, 512, 512}, {4000, 4000, 4000},
         "pushButtonVolSizeLarge", "pushButtonVolResUserDefined", 8, "7.8 mm", false},
        {"slider to 8 from a preset", {click("pushButtonVolResLow"), slide(8)}, {512, 512, 512},
         {4000, 4000, 4000}, "pushButtonVolSizeLarge", "pushButtonVolResHigh", 8, "7.8 mm", false},
        {"low preset moves the slider", {click("pushButtonVolResLow")}, {128, 128, 128},
         {4000, 4000, 4000}, "pushButtonVolSizeLarge", "pushButtonVolResLow", 2, "31.3 mm", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const Action& action : c.actions)
            action();
        EXPECT_EQ(parameters().volumeResolution, c.resolution);
        EXPECT_EQ(parameters().volumeSize, c.size);
        EXPECT_EQ(checkedSize(), c.sizeButton);
        EXPECT_EQ(checkedResolution(), c.resolutionButton);
        EXPECT_EQ(child<QSlider>("sliderVolRes")->value(), c.slider);
        for (int i = 0; i < 3; ++i) {
            const char* box[] = {"spinBoxVolSizeX", "spinBoxVolSizeY", "spinBoxVolSizeZ"};
            EXPECT_EQ(child<QSpinBox>(box[i])->value(), int(c.size[i]) / 10) << box[i];
        }
        auto* voxel = child<QLabel>("labelVoxelResolution");
        EXPECT_EQ(voxel->text(), c.voxel);
        EXPECT_EQ(voxel->styleSheet(), c.red ? "color: red;\n" : "color: white;\n");
    }
    EXPECT_EQ(child<QLabel>("labelVolRes")->text(), "128 voxels");
}

TEST_F(VolumeSettingsTest, PositionBoxesShowTheRoundedCentimetresAndPlaceTheVolume)
{
    std::array<double, 16> pose = parameters().volumePose();
    pose[12] = -5;
    pose[13] = 4;
    pose[14] = 1004;
    parameters().setVolumePose(pose);
    EXPECT_EQ(child<QSpinBox>("spinBoxVolPosX")->value(), 0) << "-0.5 rounds up";
    EXPECT_EQ(child<QSpinBox>("spinBoxVolPosY")->value(), 0) << "up is negative y";
    EXPECT_EQ(child<QSpinBox>("spinBoxVolPosZ")->value(), 100);

    child<QSpinBox>("spinBoxVolPosY")->setValue(20);
    child<QSpinBox>("spinBoxVolPosX")->setValue(-30);
    pose = parameters().volumePose();
    EXPECT_EQ(pose[12], -300);
    EXPECT_EQ(pose[13], -200);
    EXPECT_EQ(pose[14], 1000) << "the box shows 100 cm";

    child("pushButtonVolPosReset")->click();
    EXPECT_EQ(parameters().volumePose(),
              (std::array<double, 16>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1000, 1}));
    EXPECT_EQ(child<QSpinBox>("spinBoxVolPosX")->value(), 0);
}

TEST_F(VolumeSettingsTest, TypeButtonsChooseColourAndLockedParametersRefuseEveryChange)
{
    child("pushButtonVolTypeShape")->click();
    EXPECT_FALSE(parameters().colorVolume);
    child("pushButtonVolTypeColor")->click();
    EXPECT_TRUE(parameters().colorVolume);

    const std::array<int, 3> resolution = parameters().volumeResolution;
    const std::array<double, 3> size = parameters().volumeSize;
    parameters().setLocked(true);
    child("pushButtonVolTypeShape")->click();
    child("pushButtonVolSizeHead")->click();
    child("pushButtonVolResNormal")->click();
    child<QSlider>("sliderVolRes")->setValue(5);
    parameters().setLocked(false);
    EXPECT_TRUE(parameters().colorVolume);
    EXPECT_EQ(parameters().volumeResolution, resolution);
    EXPECT_EQ(parameters().volumeSize, size);
}

}  // namespace
}  // namespace Veltrane
