#include "app/CleanMeshWidget.h"
#include "app/CropMeshWidget.h"
#include "app/DecimateMeshWidget.h"
#include "app/SmoothMeshWidget.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>

namespace Veltrane {
namespace {

template <typename T>
T* child(QWidget& panel, const char* name)
{
    T* found = panel.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

/// The values a signal spy has recorded, first arguments only.
std::vector<int> values(const QSignalSpy& spy)
{
    std::vector<int> result;
    for (const QList<QVariant>& arguments : spy)
        result.push_back(arguments.at(0).toInt());
    return result;
}

TEST(CleanMeshWidget, ShowsAreasInTheLargestUnitTheyExceed)
{
    struct Case {
        double area;
        const char* text;
    };
    const Case cases[] = {
        {0.0, "0.00 mm²"},
        {37.0, "37.00 mm²"},
        {50.0, "50.00 mm²"},
        {100.0, "100.00 mm²"},  // the limits stay in the smaller unit
        {250.0, "2.50 cm²"},
        {1000000.0, "10000.00 cm²"},
        {2500000.0, "2.50 m²"},
    };
    CleanMeshWidget panel;
    auto* minLabel = child<QLabel>(panel, "labelMinArea");
    auto* maxLabel = child<QLabel>(panel, "labelMaxArea");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.area);
        panel.setMinAreaLabel(c.area);
        EXPECT_EQ(minLabel->text(), QString::fromUtf8(c.text));
        panel.setMaxAreaLabel(c.area);
        EXPECT_EQ(maxLabel->text(), QString::fromUtf8(c.text));
    }
}

TEST(CleanMeshWidget, LowerBoundNeverPassesTheUpperOne)
{
    CleanMeshWidget panel;
    auto* sliderMin = child<QSlider>(panel, "sliderMin");
    auto* sliderMax = child<QSlider>(panel, "sliderMax");
    EXPECT_EQ(sliderMin->value(), 0);
    EXPECT_EQ(sliderMax->value(), 99);
    sliderMax->setValue(40);
    QSignalSpy minChanged(&panel, SIGNAL(minChanged(int)));
    QSignalSpy maxChanged(&panel, SIGNAL(maxChanged(int)));

    sliderMin->setValue(60);
    EXPECT_EQ(sliderMin->value(), 40);
    EXPECT_EQ(values(minChanged), (std::vector<int>{40, 40})) << "once corrected, once as asked";

    sliderMin->setValue(20);
    sliderMax->setValue(10);
    EXPECT_EQ(sliderMax->value(), 20);
    EXPECT_EQ(values(maxChanged), (std::vector<int>{20, 20}));

    sliderMax->setValue(30);
    EXPECT_EQ(values(maxChanged).back(), 30);
    EXPECT_EQ(sliderMin->value(), 20) << "moving within the range corrects nothing";
}

TEST(DecimateMeshWidget, SpinBoxAndSliderFollowEachOtherAndShowTheShareKept)
{
    DecimateMeshWidget panel;
    auto* spinBox = child<QSpinBox>(panel, "spinBoxTriangles");
    auto* slider = child<QSlider>(panel, "sliderTriangles");
    auto* percent = child<QLabel>(panel, "labelPercent");
    spinBox->setRange(1, 1000);
    slider->setRange(1, 1000);

    struct Case {
        int target;
        const char* text;
    };
    const Case cases[] = {{333, "33 %"}, {995, "100 %"}, {994, "99 %"}, {4, "0 %"}, {5, "1 %"},
                          {1000, "100 %"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        spinBox->setValue(c.target);
        EXPECT_EQ(slider->value(), c.target);
        EXPECT_EQ(percent->text(), c.text);
    }
    slider->setValue(500);
    EXPECT_EQ(spinBox->value(), 500);
    EXPECT_EQ(percent->text(), "50 %");
}

TEST(CropMeshWidget, ModeButtonsAreExclusiveAndReportTheirMode)
{
    CropMeshWidget panel;
    auto* translate = child<QPushButton>(panel, "translateButton");
    auto* rotate = child<QPushButton>(panel, "rotateButton");
    auto* scale = child<QPushButton>(panel, "scaleButton");
    EXPECT_TRUE(translate->isChecked());
    QSignalSpy modeChanged(&panel, SIGNAL(modeChanged(int)));

    rotate->click();
    scale->click();
    EXPECT_EQ(values(modeChanged), (std::vector<int>{2, 3}));
    EXPECT_FALSE(translate->isChecked());
    EXPECT_FALSE(rotate->isChecked());
    EXPECT_TRUE(scale->isChecked());
    translate->click();
    EXPECT_EQ(values(modeChanged).back(), 1);
}

TEST(MeshToolPanels, ApplyButtonsRequestTheirToolAndNothingCancels)
{
    CleanMeshWidget clean;
    CropMeshWidget crop;
    DecimateMeshWidget decimate;
    SmoothMeshWidget smooth;
    const std::pair<QWidget*, const char*> panels[] = {{&clean, "pushButtonClean"},
                                                       {&crop, "pushButtonCrop"},
                                                       {&decimate, "pushButtonDecimate"},
                                                       {&smooth, "pushButtonSmooth"}};
    for (const auto& [panel, button] : panels) {
        SCOPED_TRACE(button);
        QSignalSpy apply(panel, SIGNAL(apply()));
        QSignalSpy cancel(panel, SIGNAL(cancel()));
        child<QPushButton>(*panel, button)->click();
        EXPECT_EQ(apply.count(), 1);
        EXPECT_EQ(cancel.count(), 0);
    }
}

TEST(SmoothMeshWidget, IterationsRunFromOneToAHundredAndStartAtThirty)
{
    SmoothMeshWidget panel;
    auto* iterations = child<QSpinBox>(panel, "spinBoxIterations");
    EXPECT_EQ(iterations->value(), 30);
    iterations->setValue(0);
    EXPECT_EQ(iterations->value(), 1);
    iterations->setValue(101);
    EXPECT_EQ(iterations->value(), 100);
}

}  // namespace
}  // namespace Veltrane
