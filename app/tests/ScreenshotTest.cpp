#include "WindowTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>

namespace Veltrane {
namespace {

/// The window a user sees after the start on this machine (no camera, no
/// GPU), written to the build's screenshot folder, one picture per mode.
TEST(Screenshot, OfTheRealWindowInEachMode)
{
    const QDir folder(screenshotFolder());
    AnsweredBoxes answers;
    int boxNumber = 0;
    answers.whileShown([&](QMessageBox& box) {
        box.grab().save(folder.filePath(QString("MessageBox%1.png").arg(++boxNumber)));
    });

    MainWindow window;
    window.resize(1236, 768);
    window.show();
    ASSERT_TRUE(processEventsUntil([&] { return MainWindowProbe::uiMode(window) == 1
                                                && MainWindowProbe::reconstruction(window); }));
    processEventsUntil([] { return false; }, 300);

    const std::pair<int, const char*> modes[] = {{1, "MainWindowCapture.png"},
                                                 {2, "MainWindowReconstruction.png"},
                                                 {3, "MainWindowMesh.png"}};
    for (const auto& [mode, file] : modes) {
        MainWindowProbe::uiMode(window) = mode;
        MainWindowProbe::updateUiMode(window);
        processEventsUntil([] { return false; }, 200);
        const QString path = folder.filePath(file);
        EXPECT_TRUE(window.grab().save(path)) << path.toStdString();
    }
    EXPECT_GE(boxNumber, 1);
}

}  // namespace
}  // namespace Veltrane
