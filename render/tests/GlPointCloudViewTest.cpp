#include "render/GlPointCloudView.h"

#include "RenderTestSupport.h"
#include "core/TypedImage.h"
#include "reconstruction/ReconstructionParameters.h"
#include "render/GlBoundingBox.h"
#include "testsupport/LogCapture.h"

#include <GL/glew.h>

#include <cmath>
#include <string>

namespace Veltrane {
namespace {

using GlPointCloudViewTest = GlTest;

/// A 64 x 48 frame of a wall 1000 mm away, without depth in its first four
/// columns, seen with fx = fy = 400 and the principal point at (32, 24).
constexpr int frameWidth = 64;
constexpr int frameHeight = 48;
constexpr float K[9] = {400.0f, 0.0f, 0.0f, 0.0f, 400.0f, 0.0f, 32.0f, 24.0f, 1.0f};

std::unique_ptr<TypedImage<unsigned short>> wallDepth(int width = frameWidth,
                                                      int height = frameHeight)
{
    auto depth =
        std::make_unique<TypedImage<unsigned short>>(PixelType::UnsignedShort, width, height, 1, 1);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
            depth->typedData()[r * width + c] = c < 4 ? 0 : 1000;
    return depth;
}

/// Quadrants in the frame: red top left, green top right, blue bottom left,
/// yellow bottom right (rows grow downwards).
std::unique_ptr<TypedImage<unsigned char>> quadrantColors()
{
    auto color = std::make_unique<TypedImage<unsigned char>>(PixelType::UnsignedByte, frameWidth,
                                                             frameHeight, 1, 3);
    const Rgb quadrants[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
    for (int r = 0; r < frameHeight; ++r) {
        for (int c = 0; c < frameWidth; ++c) {
            const Rgb& q = quadrants[(r >= frameHeight / 2) * 2 + (c >= frameWidth / 2)];
            for (int channel = 0; channel < 3; ++channel)
                color->typedData()[(r * frameWidth + c) * 3 + channel] =
                    static_cast<unsigned char>(q[channel]);
        }
    }
    return color;
}

/// Window pixel of frame pixel (c, r) at `depth` mm after the view's render.
std::array<int, 2> projectedPixel(const GlView& view, double c, double r, double depth = 1000.0)
{
    const double point[3] = {(c - K[6]) / K[0] * depth, (r - K[7]) / K[4] * depth, depth};
    double window[3] = {};
    view.viewState().project(point, window);
    return {static_cast<int>(std::floor(window[0])), static_cast<int>(std::floor(window[1]))};
}

/// The volume as the application sets it: a box of `size` mm whose centre
/// lies `center` mm from the camera, depths within it.
void setVolume(GlPointCloudView& view, const GlVector& center, const GlVector& size)
{
    const float T[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, float(center[0]), float(center[1]),
                         float(center[2]), 1};
    const float volumeSize[3] = {float(size[0]), float(size[1]), float(size[2])};
    view.setVolumeTransform(T);
    view.setVolumeSize(volumeSize);
    view.volMinDepth = static_cast<float>((center[2] - size[2] / 2) / 65535.0);
    view.volMaxDepth = static_cast<float>((center[2] + size[2] / 2) / 65535.0);
}

TEST_F(GlPointCloudViewTest, DrawsNothingWithoutAFrame)
{
    GlPointCloudView view;
    EXPECT_EQ(view.kind(), 2);
    GlRenderTarget target(40, 30);
    EXPECT_FALSE(renderView(view, target));
    EXPECT_EQ(pixel(target, 20, 15), clearColor);

    const auto depth = wallDepth();
    view.setFrame(depth.get(), nullptr, K);
    EXPECT_TRUE(renderView(view, target));
    view.clearFrame();
    EXPECT_FALSE(renderView(view, target));
    EXPECT_EQ(pixel(target, 20, 15), clearColor);
}

TEST_F(GlPointCloudViewTest, ItsCameraIsKnownBeforeTheFirstFrame)
{
    // The volume box's manipulator picks with the view state from the start.
    GlPointCloudView view;
    view.setMatrix(viewMatrixLookingAt({0.0, 0.0, -500.0}, {0.0, 0.0, 1000.0}));
    GlRenderTarget target(80, 60);
    EXPECT_FALSE(renderView(view, target));
    EXPECT_EQ(view.viewState().viewport, (std::array<int, 4>{0, 0, 80, 60}));
    const double ahead[3] = {0.0, 0.0, 1000.0};
    double window[3] = {};
    ASSERT_TRUE(view.viewState().project(ahead, window));
    EXPECT_NEAR(window[0], 40.0, 1e-3);
    EXPECT_NEAR(window[1], 30.0, 1e-3);
}

TEST_F(GlPointCloudViewTest, FlatFrameLandsWhereTheIntrinsicsPutIt)
{
    const Rgb red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255}, yellow{255, 255, 0};
    // Without colour, points inside the volume are coloured by depth: halfway
    // through its depth range here.
    const Rgb depthColor{153, 191, 223};
    const Rgb outsideGrey{97, 97, 97};
    const auto dimmed = [](const Rgb& c) {
        const double grey = 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2];
        Rgb result;
        for (int i = 0; i < 3; ++i)
            result[i] = static_cast<int>(std::lround((grey * 0.7 + c[i] * 0.3) * 0.45));
        return result;
    };
    const auto depth = wallDepth();
    const auto color = quadrantColors();
    const struct {
        const char* name;
        bool withColor;
        GlVector volumeCenter, volumeSize;
        Rgb topLeft, topRight, bottomLeft, bottomRight;
    } cases[] = {
        {"colour, inside", true, {0, 0, 1000}, {1000, 1000, 400}, red, green, blue, yellow},
        {"no colour, inside", false, {0, 0, 1000}, {1000, 1000, 400}, depthColor, depthColor,
         depthColor, depthColor},
        {"colour, left half inside", true, {-250, 0, 1000}, {500, 1000, 400}, red,
         dimmed(green), blue, dimmed(yellow)},
        {"no colour, left half inside", false, {-250, 0, 1000}, {500, 1000, 400}, depthColor,
         outsideGrey, depthColor, outsideGrey},
        {"colour, volume beyond the wall", true, {0, 0, 1300}, {1000, 1000, 400}, dimmed(red),
         dimmed(green), dimmed(blue), dimmed(yellow)},
    };
    GlPointCloudView view;  // one view: colour comes and goes from frame to frame
    GlRenderTarget target(200, 150);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        view.setFrame(depth.get(), c.withColor ? color.get() : nullptr, K);
        setVolume(view, c.volumeCenter, c.volumeSize);
        ASSERT_TRUE(renderView(view, target));
        if (c.withColor && c.volumeCenter[0] != 0.0)
            target.saveScreenshot("point_cloud_view_wall");
        const struct {
            double c, r;
            Rgb expected;
        } samples[] = {
            {16, 12, c.topLeft},
            {48, 12, c.topRight},
            {16, 36, c.bottomLeft},
            {48, 36, c.bottomRight},
        };
        for (const auto& s : samples) {
            const auto [x, y] = projectedPixel(view, s.c, s.r);
            EXPECT_TRUE(colorNear(pixel(target, x, y), s.expected, 3)) << s.c << ", " << s.r;
        }
        // The columns without depth and the space around the frame show the
        // background.
        for (const auto& [c, r] : {std::pair{1.0, 24.0}, std::pair{32.0, -8.0}}) {
            const auto [x, y] = projectedPixel(view, c, r);
            const Rgb background = pixel(target, x, y);
            EXPECT_TRUE(background[0] == background[1] && background[1] == background[2] &&
                        background[0] >= 55 && background[0] <= 95)
                << c << ", " << r;
        }
    }
}

TEST_F(GlPointCloudViewTest, EachPointTakesTheColourOfItsOwnPixel)
{
    // Columns alternately red and blue, seen from close enough that the
    // points stand apart: no point may take its neighbour's colour.
    const int width = 40, height = 30;
    const float sparse[9] = {100.0f, 0.0f, 0.0f, 0.0f, 100.0f, 0.0f, 20.0f, 15.0f, 1.0f};
    auto depth =
        std::make_unique<TypedImage<unsigned short>>(PixelType::UnsignedShort, width, height, 1, 1);
    depth->fill(1000);
    auto color =
        std::make_unique<TypedImage<unsigned char>>(PixelType::UnsignedByte, width, height, 1, 3);
    for (int i = 0; i < width * height; ++i) {
        const bool even = (i % width) % 2 == 0;
        unsigned char* rgb = color->typedData() + 3 * i;
        rgb[0] = even ? 255 : 0;
        rgb[1] = 0;
        rgb[2] = even ? 0 : 255;
    }
    GlPointCloudView view;
    view.setFrame(depth.get(), color.get(), sparse);
    setVolume(view, {0, 0, 1000}, {1000, 1000, 400});
    GlRenderTarget target(400, 300);
    ASSERT_TRUE(renderView(view, target));
    for (int column = 0; column < width; ++column) {
        const double point[3] = {(column - 20.0) * 10.0, 0.0, 1000.0};
        double window[3] = {};
        view.viewState().project(point, window);
        const Rgb expected = column % 2 == 0 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
        EXPECT_TRUE(colorNear(pixel(target, static_cast<int>(window[0]),
                                    static_cast<int>(window[1])),
                              expected, 3))
            << "column " << column;
    }
}

TEST_F(GlPointCloudViewTest, FrameOfAnotherSizeReplacesTheHeldOne)
{
    GlPointCloudView view;
    const auto color = quadrantColors();
    const auto depth = wallDepth();
    view.setFrame(depth.get(), color.get(), K);
    setVolume(view, {0, 0, 1000}, {1000, 1000, 400});
    GlRenderTarget target(200, 150);
    ASSERT_TRUE(renderView(view, target));
    EXPECT_EQ(view.gridWidth(), frameWidth);

    // Half the size, without colour: the old colour copy stays unused.
    const auto small = wallDepth(32, 24);
    view.setFrame(small.get(), nullptr, K);
    ASSERT_TRUE(renderView(view, target));
    EXPECT_EQ(view.gridWidth(), 32);
    EXPECT_EQ(view.gridHeight(), 24);
    const auto [x, y] = projectedPixel(view, 16, 12);
    EXPECT_TRUE(colorNear(pixel(target, x, y), {153, 191, 223}, 3));
    const auto [ox, oy] = projectedPixel(view, 48, 36);
    const Rgb outside = pixel(target, ox, oy);
    EXPECT_EQ(outside[0], outside[2]) << "no point beyond the smaller frame";
}

TEST_F(GlPointCloudViewTest, TabletopWithTheVolumeBox)
{
    const TabletopFrame tabletop = tabletopFrame();

    ReconstructionParameters parameters;
    GlVolumeBoundingBox box(&parameters);
    box.setExtent({700.0, 700.0, 700.0});
    box.setColor({0.8, 0.8, 1.0});
    GlMatrix pose = identityGlMatrix();
    pose[14] = 1100.0;
    box.setMatrix(pose);

    GlPointCloudView view;
    view.addObject(&box);
    view.setFrame(tabletop.frame.depth.get(), tabletop.frame.colour.get(), tabletop.K);
    setVolume(view, {0, 0, 1100}, {700, 700, 700});
    // Seen from above and to the side of the camera.
    view.setMatrix(viewMatrixLookingAt({1400.0, -1300.0, -900.0}, {0.0, 0.0, 1100.0}));
    GlRenderTarget target(640, 480);
    LogCapture log;
    ASSERT_TRUE(renderView(view, target));
    EXPECT_TRUE(log.lines().empty());
    target.saveScreenshot("point_cloud_view_tabletop");

    // The volume box is drawn over the points, its x edge at P3 in red.
    const auto corners = boxCorners(box.center(), box.extent());
    double middle[3], window[3];
    for (int axis = 0; axis < 3; ++axis)
        middle[axis] = (corners[2][axis] + corners[3][axis]) * 0.5;
    middle[2] += 1100.0;
    ASSERT_TRUE(view.viewState().project(middle, window));
    EXPECT_TRUE(colorNearby(target, static_cast<int>(window[0]), static_cast<int>(window[1]),
                            {255, 0, 0}, 2));
}

}  // namespace
}  // namespace Veltrane
