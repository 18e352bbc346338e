#include "render/GlSliceView.h"

#include "RenderTestSupport.h"
#include "core/GlImage.h"
#include "core/MemImage.h"
#include "core/SharedImage.h"
#include "core/SharedImageSet.h"
#include "core/TypedImage.h"
#include "render/GlColormap.h"
#include "render/GlProgram.h"
#include "render/GlSlice.h"

#include <GL/glew.h>

#include <cmath>

namespace Veltrane {
namespace {

using GlSliceViewTest = GlTest;

/// 64 x 48 grey elements, 3 x + y at (x, y).
std::unique_ptr<SharedImage> gradientImage()
{
    std::vector<unsigned char> values;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            values.push_back(static_cast<unsigned char>(3 * x + y));
    return memoryImage<unsigned char>(64, 48, 1, 1, values);
}

int grey(const GlRenderTarget& target, int x, int y)
{
    return pixel(target, x, y)[0];
}

TEST_F(GlSliceViewTest, WholeImageFitsAndPixelZoomShowsOnePixelPerPixel)
{
    auto image = gradientImage();
    GlSliceView view(0);
    view.slice()->setImage(image.get());
    view.slice()->setInterpolation(0);
    GlRenderTarget target(32, 48);
    ASSERT_TRUE(renderView(view, target));
    // 64 mm across 32 pixels: 2 mm per pixel; the image's 48 mm take the
    // middle 24 of the 48 rows.
    EXPECT_DOUBLE_EQ(view.scale(), 2.0);
    EXPECT_EQ(view.slice()->extents(), (std::array<double, 2>{32, 48}));
    // View pixel (x, y) shows element (2 x + 1, 2 y - 23).
    for (const auto& [x, y, value] :
         {std::array<int, 3>{0, 12, 3 * 1 + 1}, std::array<int, 3>{31, 12, 3 * 63 + 1},
          std::array<int, 3>{10, 35, 3 * 21 + 47}, std::array<int, 3>{16, 24, 3 * 33 + 25}})
        EXPECT_NEAR(grey(target, x, y), value, 1) << x << ", " << y;
    EXPECT_EQ(grey(target, 16, 11), 0) << "below the image";
    EXPECT_EQ(grey(target, 16, 36), 0) << "above the image";
    EXPECT_FALSE(view.isPixelZoom());

    view.setPixelZoom();
    EXPECT_TRUE(view.isPixelZoom());
    ASSERT_TRUE(renderView(view, target));
    EXPECT_DOUBLE_EQ(view.zoom(), 0.5);
    EXPECT_EQ(view.slice()->extents(), (std::array<double, 2>{16, 24}));
    // The view's 32 x 48 pixels show the elements 16 ... 47 of all rows.
    for (int y = 0; y < 48; y += 7)
        for (int x = 0; x < 32; x += 5)
            EXPECT_NEAR(grey(target, x, y), 3 * (x + 16) + y, 1) << x << ", " << y;
    EXPECT_TRUE(view.isPixelZoom());
    view.setZoom(0.6);
    EXPECT_FALSE(view.isPixelZoom());
}

TEST_F(GlSliceViewTest, FlipMirrorsThePictureVertically)
{
    auto image = gradientImage();
    GlSliceView view(0);
    view.slice()->setImage(image.get());
    view.slice()->setInterpolation(0);
    view.flip = true;
    GlRenderTarget target(64, 48);
    ASSERT_TRUE(renderView(view, target));
    EXPECT_NEAR(grey(target, 10, 47), 30, 1) << "row 0 at the top";
    EXPECT_NEAR(grey(target, 10, 0), 30 + 47, 1) << "row 47 at the bottom";
}

TEST_F(GlSliceViewTest, KindAndRenderFollowTheFocusImage)
{
    GlSliceView view(0);
    GlRenderTarget target(8, 8);
    EXPECT_EQ(view.kind(), 0) << "no image";
    EXPECT_FALSE(renderView(view, target));
    EXPECT_TRUE(colorNear(pixel(target, 4, 4), clearColor, 0));

    auto flat = memoryImage<unsigned char>(4, 4, 1, 1, std::vector<unsigned char>(16, 9));
    view.slice()->setImage(flat.get());
    EXPECT_EQ(view.kind(), 0);
    auto volume = memoryImage<unsigned char>(4, 4, 2, 1, std::vector<unsigned char>(32, 9));
    view.slice()->setImage(volume.get());
    EXPECT_EQ(view.kind(), 1);
    EXPECT_TRUE(renderView(view, target));
    view.resize(0, 8);
    EXPECT_FALSE(view.render()) << "no size yet";
}

TEST_F(GlSliceViewTest, ResetOrientationPutsTheStandardPlaneBack)
{
    auto volume = memoryImage<unsigned char>(4, 4, 8, 1, std::vector<unsigned char>(128, 9));
    volume->syncGl();
    for (int orientation : {0, 1, 2}) {
        GlSliceView view(orientation);
        view.slice()->setImage(volume.get());
        view.slice()->setInterpolation(0);
        view.slice()->setBlendFactor(1.0);
        view.slice()->moveSlice(3);
        ASSERT_NE(view.slice()->plane().centre(), (GlVector{0, 0, 0}));
        view.resetOrientation();
        EXPECT_EQ(view.matrix(), SlicePlane(orientation).matrix) << orientation;
        EXPECT_EQ(view.slice()->interpolation(), 1);
        EXPECT_EQ(view.slice()->blendFactor(), 0.5);
    }
}

TEST_F(GlSliceViewTest, HoveredVoxelChangesOnlyWhenTheMouseMovesToAnotherOne)
{
    auto image = gradientImage();
    GlSliceView view(0);
    view.slice()->setImage(image.get());
    GlRenderTarget target(32, 48);
    ASSERT_TRUE(renderView(view, target));
    // 2 mm per pixel, the image's rows in view rows 12 ... 35: the centre
    // of pixel (5, 20) lies at (-21, -7) mm.
    EXPECT_EQ(view.pixel(), (std::array<int, 3>{-1, -1, -1}));
    EXPECT_TRUE(view.updatePixel(5, 20));
    EXPECT_EQ(view.pixel(), (std::array<int, 3>{11, 17, 0}));
    EXPECT_FALSE(view.updatePixel(5, 20)) << "same voxel";
    EXPECT_TRUE(view.updatePixel(6, 20));
    EXPECT_EQ(view.pixel(), (std::array<int, 3>{13, 17, 0}));
    EXPECT_TRUE(view.updatePixel(6, 5)) << "left the image";
    EXPECT_EQ(view.pixel(), (std::array<int, 3>{-1, -1, -1}));
    EXPECT_FALSE(view.updatePixel(6, 4));
    EXPECT_EQ(view.readout(), "");
}

TEST_F(GlSliceViewTest, ReadoutShowsIntensitiesFromMemoryOrTextureValues)
{
    GlRenderTarget target(4, 4);
    GlSliceView view(0);

    // Memory copy with an intensity mapping: intensity = stored / 2 - 1.
    auto colour = memoryImage<unsigned char>(
        2, 2, 1, 3, {0, 0, 0, 10, 20, 31, 0, 0, 0, 0, 0, 0});
    colour->memPointer()->scale = 2.0;
    colour->memPointer()->shift = 1.0;
    view.slice()->setImage(colour.get());
    ASSERT_TRUE(renderView(view, target));
    ASSERT_TRUE(view.updatePixel(3, 0));
    EXPECT_EQ(view.readout(), "X=1 Y=0 I=4,9,14.5");

    // A volume held only in OpenGL.
    std::vector<float> values(2 * 2 * 3, 0.0f);
    values[2 * 2 * 1 + 2 * 1 + 0] = 0.123456f;
    auto* texture = new GlImage(PixelType::Float, 2, 2, 3, 1, 0, values.data());
    SharedImage onlyOnGpu(texture, true);
    view.slice()->setImage(&onlyOnGpu);
    view.slice()->moveSlice(0);  // onto slice 1
    ASSERT_TRUE(renderView(view, target));
    ASSERT_TRUE(view.updatePixel(0, 3));
    EXPECT_EQ(view.readout(), "X=0 Y=1 Z=1 G=0.12346");
}

/// Whether the read-out's colour appears within the box from (x0, y0) to
/// (x1, y1) inclusive, and nowhere outside it.
::testing::AssertionResult readoutOnlyIn(const GlRenderTarget& target, int x0, int y0, int x1,
                                         int y1)
{
    const Picture picture(target);
    int inside = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const Rgb c = picture.at(x, y);
            if (c[0] > 40 || c[2] < 60 || c[1] < 40)
                continue;
            if (x < x0 || x > x1 || y < y0 || y > y1)
                return ::testing::AssertionFailure() << "read-out colour at " << x << ", " << y;
            ++inside;
        }
    }
    if (inside == 0)
        return ::testing::AssertionFailure() << "no read-out drawn";
    return ::testing::AssertionSuccess();
}

TEST_F(GlSliceViewTest, ReadoutStaysInTheViewportCornerWhileTheMouseRests)
{
    auto black = memoryImage<unsigned char>(64, 48, 1, 1, std::vector<unsigned char>(64 * 48, 0));
    GlSliceView view(0);
    view.slice()->setImage(black.get());
    GlRenderTarget target(240, 160);
    const auto paint = [&] {
        glViewport(0, 0, target.width(), target.height());
        glClearColor(0.3f, 0.3f, 0.3f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glViewport(60, 40, 160, 100);
        view.resize(160, 100);
        return view.render();
    };
    ASSERT_TRUE(paint());
    ASSERT_TRUE(view.updatePixel(150, 120));
    for (int frame = 0; frame < 2; ++frame) {
        ASSERT_TRUE(paint());
        // The text starts 8 pixels right of and stands on a baseline 8 pixels
        // above the viewport's lower-left corner.
        EXPECT_TRUE(readoutOnlyIn(target, 66, 44, 219, 70)) << "frame " << frame;
    }
    target.saveScreenshot("slice-view-readout");

    ASSERT_TRUE(view.updatePixel(30, 30));  // outside the viewport
    ASSERT_TRUE(paint());
    EXPECT_FALSE(readoutOnlyIn(target, 0, 0, 239, 159)) << "no read-out once the mouse left";
}

TEST_F(GlSliceViewTest, LinkedSliceViewsDrawWhereTheyCross)
{
    auto volume = memoryImage<unsigned char>(8, 8, 8, 1, std::vector<unsigned char>(512, 0));
    SharedImageSet set(false);
    set.add(volume.get());
    GlSliceView axial(0);
    GlSliceView sagittal(1);
    axial.slice()->setImages(&set);
    sagittal.slice()->setImages(&set);
    GlRenderTarget target(40, 40);
    ASSERT_TRUE(renderView(sagittal, target));  // sizes the sagittal slice
    axial.linkedViews().push_back(&sagittal);
    ASSERT_TRUE(renderView(axial, target));
    // The sagittal plane x = 0 crosses the axial view along its middle
    // column, in the sagittal slice's green.
    for (int y : {5, 20, 35})
        EXPECT_TRUE(colorNearby(target, 20, y, {0, 255, 0}, 0)) << y;
    EXPECT_TRUE(colorNear(pixel(target, 5, 20), {0, 0, 0}, 0));
}

/// 64 x 48 millimetres of depth: a wall at 1400 mm with a ball bulging out
/// to 900 mm, and a strip without depth on the left.
std::unique_ptr<SharedImage> depthFrame()
{
    std::vector<unsigned short> depth;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            const double r = std::hypot(x - 36.0, y - 24.0);
            const double d = r < 18 ? 1400.0 - 500.0 * std::sqrt(1.0 - r * r / 324.0) : 1400.0;
            depth.push_back(x < 6 ? 0 : static_cast<unsigned short>(d));
        }
    }
    return memoryImage<unsigned short>(64, 48, 1, 1, depth);
}

/// The depth-map program set up for a 64 x 48 camera with f = 60 and a
/// volume of 400 mm centred 1000 mm in front of it.
std::unique_ptr<GlProgram> depthMapProgram()
{
    auto program = std::make_unique<GlProgram>("DepthMapVis", nullptr);
    program->bind();
    const float invK[9] = {64.0f / 60.0f, 0, 0, 0, 48.0f / 60.0f, 0, -32.0f / 60.0f,
                           -24.0f / 60.0f, 1};
    program->setUniformMat3("invK", invK);
    const float T[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1000, 1};
    program->setUniformMat4("T", T);
    program->setUniformFloat("volMinDepth", 800.0f / 65535.0f);
    program->setUniformFloat("volMaxDepth", 1200.0f / 65535.0f);
    const float size[3] = {400, 400, 400};
    program->setUniformVec3("volSize", size);
    program->unbind();
    return program;
}

TEST_F(GlSliceViewTest, DepthViewDrawsThroughTheDepthMapProgram)
{
    auto depth = depthFrame();
    GlSliceView view(0);
    view.flip = true;
    GlSlice& slice = *view.slice();
    slice.setImage(depth.get());
    slice.setInterpolation(0);
    slice.setProgram(depthMapProgram());
    slice.level = 1100.0 / 65535.0;
    slice.window = 500.0 / 65535.0;
    GlColormap jet(1, 256);
    slice.colormap = &jet;
    GlRenderTarget target(256, 192);
    ASSERT_TRUE(renderView(view, target));
    target.saveScreenshot("slice-view-depth-jet");

    // Four view pixels per element, row 0 at the top.
    const auto at = [&](int x, int y) { return pixel(target, 4 * x + 2, 191 - (4 * y + 2)); };
    EXPECT_TRUE(colorNear(at(2, 24), {0, 0, 0}, 0)) << "no depth";
    EXPECT_TRUE(colorNear(at(60, 4), {132, 0, 0}, 4)) << "wall beyond the window: last jet entry";
    // 900 mm: jet's blue (0, 0, 0.89) at 0.1 of the window, half tinted
    // green as the point lies inside the volume.
    EXPECT_TRUE(colorNear(at(36, 24), {32, 115, 165}, 6));
}

TEST_F(GlSliceViewTest, ColourImageScreenshot)
{
    std::vector<unsigned char> rgb;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            const bool square = (x / 8 + y / 8) % 2 == 0;
            rgb.insert(rgb.end(), {static_cast<unsigned char>(4 * x),
                                   static_cast<unsigned char>(5 * y),
                                   static_cast<unsigned char>(square ? 220 : 60)});
        }
    }
    auto colour = memoryImage<unsigned char>(64, 48, 1, 3, rgb);
    GlSliceView view(0);
    view.slice()->setImage(colour.get());
    view.slice()->setInterpolation(0);
    GlRenderTarget target(320, 200);
    ASSERT_TRUE(renderView(view, target));
    ASSERT_TRUE(view.updatePixel(200, 120));
    ASSERT_TRUE(renderView(view, target));
    target.saveScreenshot("slice-view-colour");
    // The image's 48 mm fill the 200 rows: 0.24 mm per pixel.
    EXPECT_TRUE(colorNear(pixel(target, 202, 152), {168, 180, 60}, 1)) << "element (42, 36)";
    EXPECT_EQ(view.readout(), "X=41 Y=28 I=164,140,220");
}

}  // namespace
}  // namespace Veltrane
