#include "WindowTestSupport.h"

#include "core/Mesh.h"
#include "reconstruction/ReconstructionParameters.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStackedWidget>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <atomic>

namespace Veltrane {
namespace {

template <typename T = QWidget>
T* child(QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

bool captureStarted(MainWindow& window)
{
    return MainWindowProbe::uiMode(window) == 1 && MainWindowProbe::reconstruction(window);
}

TEST(MainWindow, WithoutACameraSaysWhyAndStaysUsable)
{
    AnsweredBoxes answers;
    MainWindow window;
    window.show();
    ASSERT_TRUE(processEventsUntil([&] { return captureStarted(window); }));

    ASSERT_EQ(answers.count("Error"), 2u) << "one box for the camera, one for the missing GPU";
    const auto camera = std::find_if(answers.boxes().begin(), answers.boxes().end(), [](const ShownBox& box) {
        return box.text.startsWith("Couldn't start sensor.");
    });
    ASSERT_NE(camera, answers.boxes().end());
    EXPECT_EQ(camera->icon, QMessageBox::Critical);
    const QString helpPage =
        QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + "/index.html").toEncoded();
    EXPECT_TRUE(camera->text.contains("<a href='" + helpPage + "'>")) << camera->text.toStdString();

    EXPECT_FALSE(child(window, "pushButtonStartReconstruction")->isEnabled());
    EXPECT_FALSE(child(window, "pushButtonRecord")->isEnabled());
    EXPECT_FALSE(child(window, "toolButtonSensor")->isVisible());
    EXPECT_FALSE(window.findChild<QProgressDialog*>()->isVisible()) << "the sensor wait is over";
    EXPECT_TRUE(MainWindowProbe::workerExists(window));

    // The device box offers the CPU alone, which builds the back-end.
    auto* devices = child<QComboBox>(window, "comboBoxComputeDevice");
    ASSERT_EQ(devices->count(), 1);
    EXPECT_EQ(devices->itemText(0), "CPU");
    EXPECT_TRUE(devices->isEnabled());
    EXPECT_TRUE(MainWindowProbe::cpuReconstruction(window));

    // The settings column still answers the user.
    auto* section = child<QToolButton>(window, "toolButtonVolumeResolution");
    section->click();
    EXPECT_TRUE(child(window, "groupBoxVolumeResolution")->isVisible());
}

/// A window whose back-end takes a while to build.
class SlowBackEndWindow : public MainWindow {
public:
    std::atomic<bool> building{false};

protected:
    void createReconstruction() override
    {
        building = true;
        QThread::msleep(1500);
        MainWindow::createReconstruction();
    }
};

TEST(MainWindow, ClosingWhileTheBackEndIsBuiltEndsOnceItIsBuilt)
{
    AnsweredBoxes answers;
    SlowBackEndWindow window;
    window.show();

    // The user closes the window from the event loop while the back-end is
    // being built.
    bool closed = true;
    qint64 closeTime = -1;
    bool visibleAfterClose = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (!window.building)
            return;
        user.stop();
        QElapsedTimer clock;
        clock.start();
        closed = window.close();
        closeTime = clock.elapsed();
        visibleAfterClose = window.isVisible();
    });
    user.start(10);

    ASSERT_TRUE(processEventsUntil([&] { return closeTime >= 0 && !window.isVisible(); }, 20000));
    EXPECT_FALSE(closed) << "the close waits for the back-end";
    EXPECT_LT(closeTime, 500);
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_EQ(MainWindowProbe::reconstruction(window), nullptr) << "the built back-end was deleted";
    EXPECT_EQ(MainWindowProbe::parameters(window), nullptr);
    EXPECT_FALSE(MainWindowProbe::workerExists(window));
}

TEST(MainWindow, ClosingBeforeTheCaptureStartTouchesNoCamera)
{
    AnsweredBoxes answers;
    MainWindow window;
    window.show();
    EXPECT_TRUE(window.close());
    EXPECT_EQ(MainWindowProbe::sensor(window), nullptr);
    processEventsUntil([] { return false; }, 100);
    EXPECT_EQ(MainWindowProbe::sensor(window), nullptr) << "the scheduled capture start did not run";
    EXPECT_TRUE(answers.boxes().empty());
}

TEST(MainWindow, ClosingWithAnUnsavedMeshAsksOnce)
{
    for (const bool saved : {false, true}) {
        AnsweredBoxes answers(QMessageBox::No);
        MainWindow window;
        window.show();
        ASSERT_TRUE(processEventsUntil([&] { return captureStarted(window); }));
        const std::size_t before = answers.boxes().size();
        MainWindowProbe::mesh(window) = new Mesh;
        MainWindowProbe::meshSaved(window) = saved;
        MainWindowProbe::uiMode(window) = 3;

        EXPECT_TRUE(window.close());
        ASSERT_EQ(answers.boxes().size() - before, saved ? 0u : 1u) << "saved " << saved;
        if (!saved) {
            const ShownBox& question = answers.boxes().back();
            EXPECT_EQ(question.title, "Save mesh");
            EXPECT_EQ(question.text, "Do you want to save the mesh before exiting?");
            EXPECT_EQ(question.icon, QMessageBox::Question);
        }
        EXPECT_EQ(MainWindowProbe::mesh(window), nullptr);
    }
}

TEST(MainWindow, RestoresTheGeometryItWasClosedWith)
{
    QSettings().clear();
    AnsweredBoxes answers;
    const QRect placed(40, 60, 1100, 800);
    {
        MainWindow window;
        EXPECT_EQ(window.size(), QSize(1236, 768)) << "the form's size without settings";
        window.setGeometry(placed);
        window.show();
        EXPECT_TRUE(window.close());
    }
    MainWindow again;
    EXPECT_EQ(again.size(), placed.size());
    again.show();
    processEventsUntil([] { return false; }, 50);
    EXPECT_EQ(again.geometry().size(), placed.size());
    EXPECT_TRUE(again.close());
}

struct BoxCase {
    const char* name;
    std::function<int(MainWindow&)> show;
    int icon;
    std::vector<QString> buttons;
};

TEST(MainWindow, MessageBoxesAreFramelessStyledAndModal)
{
    const BoxCase cases[] = {
        {"critical", [](MainWindow& w) { return w.showCritical("T", "x"); }, QMessageBox::Critical, {"OK"}},
        {"warning", [](MainWindow& w) { return w.showWarning("T", "x"); }, QMessageBox::Warning, {"OK"}},
        {"information", [](MainWindow& w) { return w.showInformation("T", "x"); }, QMessageBox::Information, {"OK"}},
        {"question", [](MainWindow& w) { return w.askQuestion("T", "x", "Keep", "Drop"); },
         QMessageBox::Question, {"Keep", "Drop"}},
        {"question with Qt's captions", [](MainWindow& w) { return w.askQuestion("T", "x", "", ""); },
         QMessageBox::Question, {"&Yes", "&No"}},
    };
    AnsweredBoxes answers(QMessageBox::Yes);
    MainWindow window;
    for (const BoxCase& c : cases) {
        EXPECT_EQ(c.show(window), QMessageBox::Yes) << c.name << ": the answer is passed on";
        const ShownBox& box = answers.boxes().back();
        EXPECT_EQ(box.icon, c.icon) << c.name;
        EXPECT_EQ(box.title, "T") << c.name;
        EXPECT_EQ(box.text, "x") << c.name;
        EXPECT_EQ(int(box.flags), 0x903) << c.name;
        EXPECT_EQ(box.objectName, "topWidget") << c.name;
        EXPECT_EQ(box.styleSheet, "QWidget#topWidget { border:2px solid white; }") << c.name;
        auto texts = box.buttonTexts;
        std::sort(texts.begin(), texts.end());
        auto expected = c.buttons;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(texts, expected) << c.name;
    }
}

TEST(MainWindow, ModesShowTheirPageAndControls)
{
    AnsweredBoxes answers;
    MainWindow window;
    window.show();
    ASSERT_TRUE(processEventsUntil([&] { return captureStarted(window); }));
    auto* pages = child<QStackedWidget>(window, "stackedWidget");
    auto* scroll = child<QScrollArea>(window, "scrollArea");
    ReconstructionParameters& parameters = *MainWindowProbe::parameters(window);
    EXPECT_EQ(pages->currentIndex(), 0);

    auto enter = [&](int mode, bool colour) {
        parameters.setColorVolume(colour);
        MainWindowProbe::uiMode(window) = mode;
        MainWindowProbe::updateUiMode(window);
    };

    enter(2, false);
    EXPECT_EQ(pages->currentIndex(), 1);
    EXPECT_FALSE(child(window, "pushButtonShowColor")->isVisible()) << "no colour to show";
    EXPECT_EQ(scroll->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    enter(2, true);
    EXPECT_TRUE(child(window, "pushButtonShowColor")->isVisible());
    EXPECT_TRUE(child<QPushButton>(window, "pushButtonShowColor")->isChecked());

    enter(3, false);
    EXPECT_EQ(pages->currentIndex(), 2);
    EXPECT_FALSE(child(window, "pushButtonMeshTextured")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(window, "pushButtonMeshSurface")->isChecked());
    EXPECT_FALSE(child(window, "playbackWidget")->isVisible());
    enter(3, true);
    EXPECT_TRUE(child(window, "pushButtonMeshTextured")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(window, "pushButtonMeshTextured")->isChecked());

    child<QToolButton>(window, "toolButtonMeshSmooth")->click();
    EXPECT_TRUE(child(window, "smoothMeshWidget")->isVisible());
    enter(3, true);
    EXPECT_FALSE(child<QToolButton>(window, "toolButtonMeshSmooth")->isChecked());
    EXPECT_FALSE(child(window, "smoothMeshWidget")->isVisible());

    child<QToolButton>(window, "toolButtonVolumePosition")->click();
    enter(1, true);
    EXPECT_EQ(pages->currentIndex(), 0);
    EXPECT_EQ(scroll->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    EXPECT_FALSE(child(window, "groupBoxVolumePosition")->isVisible()) << "sections back to default";
    EXPECT_TRUE(child(window, "groupBoxVolumeSize")->isVisible());
    EXPECT_FALSE(child(window, "pushButtonStartReconstruction")->isEnabled());
}

TEST(MainWindow, SettingsColumnWidensOnlyWhileItsScrollBarShows)
{
    AnsweredBoxes answers;
    MainWindow window;
    window.resize(1236, 768);
    window.show();
    ASSERT_TRUE(processEventsUntil([&] { return captureStarted(window); }));
    auto* scroll = child<QScrollArea>(window, "scrollArea");
    QScrollBar* bar = scroll->verticalScrollBar();
    const char* const sections[] = {"toolButtonVolumeType", "toolButtonVolumeSize",
                                    "toolButtonVolumeResolution", "toolButtonVolumePosition",
                                    "toolButtonTimedReconstruction", "toolButtonComputeDevice"};
    auto expandAll = [&](bool expanded) {
        for (const char* name : sections)
            child<QToolButton>(window, name)->setChecked(expanded);
    };

    expandAll(false);
    ASSERT_TRUE(processEventsUntil([&] { return !bar->isVisible(); }, 2000));
    const int narrow = scroll->minimumWidth();

    expandAll(true);
    ASSERT_TRUE(processEventsUntil([&] { return bar->isVisible(); }, 2000));
    EXPECT_EQ(scroll->minimumWidth(), narrow + bar->width());

    expandAll(false);
    ASSERT_TRUE(processEventsUntil([&] { return !bar->isVisible(); }, 2000));
    EXPECT_EQ(scroll->minimumWidth(), narrow);
}

}  // namespace
}  // namespace Veltrane
