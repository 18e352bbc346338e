#include "AppTestSupport.h"
#include "MainWindowProbe.h"

#include "core/Image.h"
#include "core/SharedImage.h"
#include "core/TypedImage.h"

#include <gtest/gtest.h>

#include <QProgressDialog>

#include <algorithm>
#include <thread>

namespace Veltrane {
namespace {

using Depth = TypedImage<unsigned short>;
using Colour = TypedImage<unsigned char>;

const unsigned short* incomingDepth(MainWindow& window)
{
    return static_cast<Depth*>(MainWindowProbe::incomingDepthImage(window)->mem())->typedData();
}

TEST(FrameHandOff, KeepsTheNewestFrameAndHidesTheSensorWait)
{
    MessageBoxLog answers;
    MainWindow window;
    MainWindowProbe::allocateFrameImages(window, 4, 3);
    auto* wait = window.findChild<QProgressDialog*>();
    ASSERT_TRUE(wait->isVisible());

    Depth depth(PixelType::UnsignedShort, 4, 3, 1, 1);
    Colour colour(PixelType::UnsignedByte, 4, 3, 1, 3);
    depth.fill(1200);
    colour.fill(90);

    // The camera thread delivers; the window hides its wait on the GUI thread.
    std::thread camera([&] {
        window.onNewFrame(&colour, &depth, nullptr);
        depth.fill(1300);
        window.onNewFrame(nullptr, &depth, nullptr);
    });
    camera.join();

    EXPECT_TRUE(MainWindowProbe::newFrame(window));
    EXPECT_TRUE(std::all_of(incomingDepth(window), incomingDepth(window) + 12,
                            [](unsigned short d) { return d == 1300; }))
        << "a live frame replaces the one the worker has not taken";
    EXPECT_TRUE(waitUntil([&] { return !wait->isVisible(); }, 2000));

    window.onNewFrame(&colour, nullptr, nullptr);
    EXPECT_EQ(incomingDepth(window)[0], 1300) << "a frame without depth is ignored";
}

TEST(FrameHandOff, EmptySceneRunsFromGrey55AtTheTopTo95AtTheBottom)
{
    MessageBoxLog answers;
    MainWindow window;
    MainWindowProbe::allocateFrameImages(window, 2, 5);
    const auto* scene =
        static_cast<Colour*>(MainWindowProbe::emptySceneImage(window)->mem())->typedData();
    const unsigned char rows[] = {55, 65, 75, 85, 95};
    for (int y = 0; y < 5; ++y)
        for (int i = 0; i < 2 * 3; ++i)
            EXPECT_EQ(scene[y * 6 + i], rows[y]) << "row " << y;

    MainWindowProbe::allocateFrameImages(window, 3, 2);
    EXPECT_EQ(MainWindowProbe::emptySceneImage(window)->width(), 3) << "a new size resizes";
}

}  // namespace
}  // namespace Veltrane
