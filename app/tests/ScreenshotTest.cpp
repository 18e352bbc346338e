#include "AppTestSupport.h"
#include "MainWindowProbe.h"
#include "testsupport/Screenshots.h"

#include <gtest/gtest.h>

#include <QAbstractButton>

namespace Veltrane {
namespace {

/// The window a user sees on this machine (no camera, no GPU), written to
/// the build's screenshot folder: at the start, then with the sample
/// sequence loaded, the mesh mode with a scanned tabletop and
/// the handles of the crop and align tools.
TEST(Screenshot, OfTheRealWindowInEachMode)
{
    MessageBoxLog answers("MainWindowMessageBox");
    MainWindow window;
    window.resize(1236, 768);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return MainWindowProbe::uiMode(window) == 1
                                       && MainWindowProbe::reconstruction(window); }, 20000));
    handleEventsFor(300);
    EXPECT_TRUE(saveWindowScreenshot(window, "MainWindowStart"));
    EXPECT_FALSE(answers.boxes().empty());

    {
        FileDialogAnswers files({FileDialogAnswers::Answer{KORVASTEL_SAMPLE_SEQUENCE, ""}});
        window.findChild<QAbstractButton*>("pushButtonLoadSequence")->click();
    }
    ASSERT_NE(MainWindowProbe::playback(window), nullptr);
    handleEventsFor(300);
    EXPECT_TRUE(saveWindowScreenshot(window, "MainWindowCapture"));

    MainWindowProbe::enterMeshMode(window, tabletopMesh());
    handleEventsFor(200);
    EXPECT_TRUE(saveWindowScreenshot(window, "MainWindowMesh"));
    const std::pair<const char*, const char*> tools[] = {{"toolButtonMeshCrop", "MainWindowMeshCrop"},
                                                         {"toolButtonMeshAlign", "MainWindowMeshAlign"}};
    for (const auto& [tool, name] : tools) {
        window.findChild<QAbstractButton*>(tool)->click();
        handleEventsFor(200);
        EXPECT_TRUE(saveWindowScreenshot(window, name)) << name;
    }
    MainWindowProbe::meshSaved(window) = true;  // nothing to ask when closing
}

}  // namespace
}  // namespace Veltrane
