#include "AppTestSupport.h"
#include "MainWindowProbe.h"

#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QToolButton>

#include <memory>

namespace Veltrane {
namespace {

/// One window for the whole table, built as the program builds it, with no
/// event processed yet.
class MainWindowForm : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        answers = std::make_unique<MessageBoxLog>();
        window = std::make_unique<MainWindow>();
    }
    static void TearDownTestSuite()
    {
        window.reset();
        answers.reset();
    }

    template <typename T = QWidget>
    static T* find(const QString& name)
    {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }

    static std::unique_ptr<MessageBoxLog> answers;
    static std::unique_ptr<MainWindow> window;
};

std::unique_ptr<MessageBoxLog> MainWindowForm::answers;
std::unique_ptr<MainWindow> MainWindowForm::window;

TEST_F(MainWindowForm, WindowHasTheFormsSizeTitleAndPages)
{
    EXPECT_EQ(window->objectName(), "MainWindow");
    EXPECT_EQ(window->windowTitle(), "Korvastel");
    EXPECT_EQ(window->minimumSize(), QSize(1024, 768));
    EXPECT_FALSE(window->windowIcon().isNull());

    auto* pages = find<QStackedWidget>("stackedWidget");
    ASSERT_EQ(pages->count(), 3);
    EXPECT_EQ(pages->widget(0)->objectName(), "pageCapture");
    EXPECT_EQ(pages->widget(1)->objectName(), "pageReconstruction");
    EXPECT_EQ(pages->widget(2)->objectName(), "pageVisualization");
    EXPECT_EQ(pages->currentIndex(), 0);
    EXPECT_EQ(pages->maximumWidth(), 210) << "the settings column never grows wider";
    EXPECT_EQ(find("displayWidget")->minimumSize(), QSize(700, 700));
    EXPECT_EQ(find("displayWidget")->sizePolicy().horizontalStretch(), 2);
    EXPECT_EQ(find("playbackWidget")->maximumHeight(), 50);
}

TEST_F(MainWindowForm, SpinBoxesAndSlidersHaveTheirRangesAndDefaults)
{
    struct Case {
        const char* name;
        int minimum, maximum, step, value;
        const char* suffix;
    };
    // The size boxes and the slider show the volume the window starts with:
    // the Small size and the Default resolution checked in the form.
    const Case cases[] = {
        {"spinBoxVolSizeX", 20, 500, 10, 100, " cm"},
        {"spinBoxVolSizeY", 20, 500, 10, 100, " cm"},
        {"spinBoxVolSizeZ", 20, 500, 10, 100, " cm"},
        {"spinBoxVolPosX", -10000, 10000, 10, 0, " cm"},
        {"spinBoxVolPosY", -10000, 10000, 10, 0, " cm"},
        {"spinBoxVolPosZ", -10000, 10000, 10, 100, " cm"},
        {"spinBoxDepthCutoff", 0, 1000, 10, 320, " cm"},
        {"spinBoxStartDelay", 0, 120, 1, 0, " s"},
        {"spinBoxDuration", 1, 3600, 1, 120, " s"},
    };
    for (const Case& c : cases) {
        auto* box = find<QSpinBox>(c.name);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->minimum(), c.minimum) << c.name;
        EXPECT_EQ(box->maximum(), c.maximum) << c.name;
        EXPECT_EQ(box->singleStep(), c.step) << c.name;
        EXPECT_EQ(box->value(), c.value) << c.name;
        EXPECT_EQ(box->suffix(), c.suffix) << c.name;
    }
    auto* slider = find<QSlider>("sliderVolRes");
    EXPECT_EQ(slider->minimum(), 1);
    EXPECT_EQ(slider->maximum(), 8);
    EXPECT_EQ(slider->pageStep(), 1);
    EXPECT_EQ(slider->value(), 4);
    EXPECT_EQ(slider->orientation(), Qt::Horizontal);
}

TEST_F(MainWindowForm, ButtonsHaveTheirTextsAndStates)
{
    struct Case {
        const char* name;
        const char* text;
        bool checkable;
        bool checked;
        int minimumHeight;
    };
    const Case cases[] = {
        {"pushButtonVolTypeShape", "", true, false, 60},
        {"pushButtonVolTypeColor", "", true, true, 60},
        {"pushButtonVolSizeSmall", "", true, true, 50},
        {"pushButtonVolSizeNormal", "", true, false, 50},
        {"pushButtonVolSizeLarge", "", true, false, 50},
        {"pushButtonVolSizeHead", "Head", true, false, 50},
        {"pushButtonVolSizeFullBody", "Body", true, false, 50},
        {"pushButtonVolSizeUserDefined", "Custom", true, false, 50},
        {"pushButtonVolResLow", "", true, false, 50},
        {"pushButtonVolResNormal", "", true, true, 50},
        {"pushButtonVolResHigh", "", true, false, 50},
        {"pushButtonVolResUserDefined", "Custom", true, false, 50},
        {"pushButtonVolTranslate", "Translate", true, false, 0},
        {"pushButtonVolRotate", "Rotate", true, false, 0},
        {"pushButtonVolPosReset", "Reset", false, false, 25},
        {"pushButtonStartReconstruction", "Start reconstruction", false, false, 40},
        {"pushButtonLoadSequence", "Load sequence", false, false, 40},
        {"pushButtonRecord", "Record sequence", false, false, 40},
        {"pushButtonAbout", "About", false, false, 25},
        {"pushButtonShowColor", "Show color", true, true, 0},
        {"pushButtonResetVolume", "Reset volume", false, false, 25},
        {"pushButtonCancelReconstruction", "Cancel reconstruction", false, false, 0},
        {"pushButtonFinishReconstruction", "Finish reconstruction", false, false, 40},
        {"pushButton_2", "About", false, false, 0},
        {"pushButtonMeshTextured", "", true, true, 60},
        {"pushButtonMeshSurface", "", true, false, 60},
        {"pushButtonMeshSurfaceWireframe", "", true, false, 60},
        {"pushButtonMeshWireframe", "", true, false, 60},
        {"pushButtonMeshUndo", "Undo", false, false, 40},
        {"pushButtonMeshRedo", "Redo", false, false, 40},
        {"pushButtonMeshReset", "Reset", false, false, 40},
        {"pushButtonSaveMesh", "Save mesh", false, false, 40},
        {"pushButtonSketchFabExport", "Export to SketchFab", false, false, 40},
        {"pushButtonFinish", "Done", false, false, 25},
        {"pushButton", "About", false, false, 0},
    };
    for (const Case& c : cases) {
        auto* button = find<QPushButton>(c.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), c.text) << c.name;
        EXPECT_EQ(button->isCheckable(), c.checkable) << c.name;
        EXPECT_EQ(button->isChecked(), c.checked) << c.name;
        EXPECT_EQ(button->minimumHeight(), c.minimumHeight) << c.name;
    }
    // The style sheet picks these by their names; the accessible names agree.
    for (const char* name : {"pushButtonVolTypeShape", "pushButtonVolTypeColor",
                             "pushButtonStartReconstruction", "pushButtonRecord",
                             "pushButtonFinishReconstruction", "pushButtonSaveMesh"})
        EXPECT_EQ(find(name)->accessibleName(), name);
}

TEST_F(MainWindowForm, SectionsStartWithTypeAndSizeExpanded)
{
    struct Case {
        const char* button;
        const char* box;
        const char* text;
        bool expanded;
    };
    const Case cases[] = {
        {"toolButtonVolumeType", "groupBoxVolumeType", " Volume Type", true},
        {"toolButtonVolumeSize", "groupBoxVolumeSize", " Volume Size", true},
        {"toolButtonVolumeResolution", "groupBoxVolumeResolution", " Volume Resolution", false},
        {"toolButtonVolumePosition", "groupBoxVolumePosition", " Volume Position", false},
        {"toolButtonSensor", "groupBoxSensor", " Sensor", false},
        {"toolButtonComputeDevice", "groupBoxComputeDevice", " Compute Device", false},
        {"toolButtonTimedReconstruction", "groupBoxTimedReconstruction", " Timed Reconstruction", false},
    };
    for (const Case& c : cases) {
        auto* button = find<QToolButton>(c.button);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), c.text) << c.button;
        EXPECT_TRUE(button->isCheckable()) << c.button;
        EXPECT_EQ(button->isChecked(), c.expanded) << c.button;
        EXPECT_EQ(button->layoutDirection(), Qt::RightToLeft) << c.button;
        EXPECT_EQ(find(c.box)->isVisibleTo(window.get()), c.expanded) << c.box;
    }
    for (const char* name : {"toolButtonMeshSmooth", "toolButtonMeshDecimate", "toolButtonMeshClean",
                             "toolButtonMeshCrop", "toolButtonMeshAlign"})
        EXPECT_TRUE(find<QToolButton>(name)->isCheckable()) << name;
    auto* fillHoles = find<QToolButton>("toolButtonMeshFillHoles");
    EXPECT_FALSE(fillHoles->isCheckable()) << "so it never shows a panel";
    EXPECT_TRUE(fillHoles->icon().isNull());

    EXPECT_FALSE(find("labelRecDroppedFrames")->isVisibleTo(window.get()));
    EXPECT_FALSE(find("labelRecDroppedFramesLabel")->isVisibleTo(window.get()));
    EXPECT_FALSE(find("playbackWidget")->isVisibleTo(window.get()));
    auto* align = find("alignMeshWidget")->findChild<QPushButton*>();
    ASSERT_NE(align, nullptr);
    EXPECT_EQ(align->text(), "Align");
    EXPECT_EQ(align->minimumSize(), QSize(75, 40));
    EXPECT_EQ(find<QComboBox>("comboBoxComputeDevice")->count(), 0);
    EXPECT_EQ(find<QLabel>("labelVolRes")->text(), "256 voxels");
    EXPECT_EQ(find<QLabel>("labelRecStatus")->size(), QSize(20, 20));
}

TEST_F(MainWindowForm, EachPresetGroupKeepsExactlyOneButtonChecked)
{
    struct Case {
        const char* group;
        std::vector<const char*> buttons;
    };
    const Case cases[] = {
        {"buttonGroupVolType", {"pushButtonVolTypeShape", "pushButtonVolTypeColor"}},
        {"buttonGroupVolSize",
         {"pushButtonVolSizeSmall", "pushButtonVolSizeNormal", "pushButtonVolSizeLarge",
          "pushButtonVolSizeHead", "pushButtonVolSizeFullBody", "pushButtonVolSizeUserDefined"}},
        {"buttonGroupVolRes",
         {"pushButtonVolResLow", "pushButtonVolResNormal", "pushButtonVolResHigh",
          "pushButtonVolResUserDefined"}},
        {"buttonGroupMesh",
         {"pushButtonMeshTextured", "pushButtonMeshSurface", "pushButtonMeshSurfaceWireframe",
          "pushButtonMeshWireframe"}},
    };
    for (const Case& c : cases) {
        auto* group = window->findChild<QButtonGroup*>(c.group);
        ASSERT_NE(group, nullptr) << c.group;
        EXPECT_TRUE(group->exclusive()) << c.group;
        ASSERT_EQ(group->buttons().size(), int(c.buttons.size())) << c.group;
        for (const char* name : c.buttons) {
            auto* button = find<QPushButton>(name);
            EXPECT_EQ(button->group(), group) << name;
            button->setEnabled(true);
            button->click();
            button->click();
            for (QAbstractButton* other : group->buttons())
                EXPECT_EQ(other->isChecked(), other == button) << c.group << " after " << name;
        }
    }
}

TEST_F(MainWindowForm, DeclaresTheSlotsInTheirOrder)
{
    const char* const expectedSlots[] = {
        "onStartCapture()", "onStopCapture()", "onStartReconstruction()", "onStopReconstruction()",
        "onFinish()", "onVolumeTypeChanged()", "onVolumeResolutionChanged()", "onVolumeSizeChanged()",
        "onVolumePositionChanged()", "onVolumePositionReset()", "onVolumeRotate()",
        "onVolumeTranslate()", "onShowVolumePositionTab(bool)", "onResetReconstruction()",
        "onCancelReconstruction()", "onMeshTextured()", "onMeshSurface()",
        "onMeshSurfaceAndWireframe()", "onMeshWireframe()", "onSaveMesh()", "onExportToSketchFab()",
        "onDeviceChanged()", "onAutoWhiteBalanceToggled(bool)", "onAutoExposureToggled(bool)",
        "onShowSceneColor(bool)", "onAbout()", "initCL()", "onMeshProcessingChange()",
        "onCropMeshTransformationChange(int)", "onCleanMeshMinChanged(int)",
        "onCleanMeshMaxChanged(int)", "smoothMesh()", "decimateMesh()", "cleanMesh()",
        "alignMesh()", "cropMesh()", "fillHolesMesh()", "onMeshUndo()", "onMeshRedo()",
        "onMeshReset()", "waitCanceled()", "startDelayedReconstruction()",
        "stopTimedReconstruction()", "delayedReconstructionCanceled()", "showSensorWaitDialog()",
        "onRecordSequence()", "onLoadSequence()", "onFinishedPlayback()",
        "onDepthCutoffToggled(bool)", "onDepthCutoffChanged(int)", "reconstructionThread()",
        "updateGUI()"};
    const QMetaObject& meta = MainWindow::staticMetaObject;
    std::vector<QByteArray> declared;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        if (meta.method(i).methodType() == QMetaMethod::Slot)
            declared.push_back(meta.method(i).methodSignature());
    }
    ASSERT_EQ(declared.size(), std::size(expectedSlots));
    for (std::size_t i = 0; i < declared.size(); ++i)
        EXPECT_EQ(declared[i], QByteArray(expectedSlots[i])) << i;
}

}  // namespace
}  // namespace Veltrane
