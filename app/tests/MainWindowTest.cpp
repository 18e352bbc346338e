#include "AppTestSupport.h"
#include "MainWindowProbe.h"

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

#include <algorithm>
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

std::size_t countTitled(const MessageBoxLog& log, const QString& title)
{
    return std::count_if(log.boxes().begin(), log.boxes().end(),
                         [&](const MessageBoxLog::Box& box) { return box.title == title; });
}

bool captureStarted(MainWindow& window)
{
    return MainWindowProbe::uiMode(window) == 1 && MainWindowProbe::reconstruction(window);
}

TEST(MainWindow, WithoutACameraSaysWhyAndStaysUsable)
{
    MessageBoxLog answers;
    MainWindow window;
    window.show();
    ASSERT_TRUE(waitUntil([&] { return captureStarted(window); }, 20000));

    ASSERT_EQ(countTitled(answers, "Error"), 2u) << "one box for the camera, one for the missing GPU";
    const auto camera = std::find_if(answers.boxes().begin(), answers.boxes().end(),
                                     [](const MessageBoxLog::Box& box) {
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
    MessageBoxLog answers;
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

    ASSERT_TRUE(waitUntil([&] { return closeTime >= 0 && !window.isVisible(); }, 20000));
    EXPECT_FALSE(closed) << "the close waits for the back-end";
    EXPECT_LT(closeTime, 500);
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_EQ(MainWindowProbe::reconstruction(window), nullptr) << "the built back-end was deleted";
    EXPECT_EQ(MainWindowProbe::parameters(window), nullptr);
    EXPECT_FALSE(MainWindowProbe::workerExists(window));
}

TEST(MainWindow, ClosingBeforeTheCaptureStartTouchesNoCamera)
{
    MessageBoxLog answers;
    MainWindow window;
    window.show();
    EXPECT_TRUE(window.close());
    EXPECT_EQ(MainWindowProbe::sensor(window), nullptr);
    handleEventsFor(100);
    EXPECT_EQ(MainWindowProbe::sensor(window), nullptr) << "the scheduled capture start did not run";
    EXPECT_TRUE(answers.boxes().empty());
}

TEST(MainWindow, ClosingWithAnUnsavedMeshAsksOnce)
{
    for (const bool saved : {false, true}) {
        MessageBoxLog answers(QString(), QMessageBox::No);
        MainWindow window;
        window.show();
        ASSERT_TRUE(waitUntil([&] { return captureStarted(window); }, 20000));
        const std::size_t before = answers.boxes().size();
        MainWindowProbe::mesh(window) = new Mesh;
        MainWindowProbe::meshSaved(window) = saved;
        MainWindowProbe::uiMode(window) = 3;

        EXPECT_TRUE(window.close());
        ASSERT_EQ(answers.boxes().size() - before, saved ? 0u : 1u) << "saved " << saved;
        if (!saved) {
            const MessageBoxLog::Box& question = answers.boxes().back();
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
    MessageBoxLog answers;
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
    handleEventsFor(50);
    EXPECT_EQ(again.geometry().size(), placed.size());
    EXPECT_TRUE(again.close());
}

TEST(MainWindow, ModesShowTheirPageAndControls)
{
    MessageBoxLog answers;
    MainWindow window;
    window.show();
    ASSERT_TRUE(waitUntil([&] { return captureStarted(window); }, 20000));
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
    MessageBoxLog answers;
    MainWindow window;
    window.resize(1236, 768);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return captureStarted(window); }, 20000));
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
    ASSERT_TRUE(waitUntil([&] { return !bar->isVisible(); }, 2000));
    const int narrow = scroll->minimumWidth();

    expandAll(true);
    ASSERT_TRUE(waitUntil([&] { return bar->isVisible(); }, 2000));
    EXPECT_EQ(scroll->minimumWidth(), narrow + bar->width());

    expandAll(false);
    ASSERT_TRUE(waitUntil([&] { return !bar->isVisible(); }, 2000));
    EXPECT_EQ(scroll->minimumWidth(), narrow);
}

}  // namespace
}  // namespace Veltrane
