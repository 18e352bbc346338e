#include "AppTestSupport.h"
#include "MainWindowProbe.h"
#include "testsupport/Screenshots.h"

#include <gtest/gtest.h>

namespace Veltrane {
namespace {

/// The window a user sees after the start on this machine (no camera, no
/// GPU), written to the build's screenshot folder, one picture per mode.
TEST(Screenshot, OfTheRealWindowInEachMode)
{
    MessageBoxLog answers("MainWindowMessageBox");
    MainWindow window;
    window.resize(1236, 768);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return MainWindowProbe::uiMode(window) == 1
                                       && MainWindowProbe::reconstruction(window); }, 20000));
    handleEventsFor(300);

    const std::pair<int, const char*> modes[] = {{1, "MainWindowCapture"},
                                                 {2, "MainWindowReconstruction"},
                                                 {3, "MainWindowMesh"}};
    for (const auto& [mode, name] : modes) {
        MainWindowProbe::uiMode(window) = mode;
        MainWindowProbe::updateUiMode(window);
        handleEventsFor(200);
        EXPECT_TRUE(saveWindowScreenshot(window, name)) << name;
    }
    EXPECT_FALSE(answers.boxes().empty());
}

}  // namespace
}  // namespace Veltrane
