#include "render/GlSlice.h"

#include "RenderTestSupport.h"
#include "core/GlImage.h"
#include "core/SharedImage.h"
#include "core/SharedImageSet.h"
#include "render/GlColormap.h"
#include "render/GlProgram.h"
#include "testsupport/LogCapture.h"

#include <GL/glew.h>

#include <Eigen/Core>

#include <algorithm>
#include <cmath>

namespace Veltrane {
namespace {

using GlSliceTest = GlTest;

/// Pixels per image element in the drawings below.
constexpr int kBlock = 10;

/// Eight columns of grey, two rows high: 0, 32, ... 192 and 255.
const std::vector<unsigned char> kGreys = {0, 32, 64, 96, 128, 160, 192, 255,
                                           0, 32, 64, 96, 128, 160, 192, 255};

/// Looks at the plane z = 0 from the front, `e0` x `e1` world units filling
/// the target; clears it.
void loadFrontView(const GlRenderTarget& target, double e0, double e1)
{
    glViewport(0, 0, target.width(), target.height());
    glClearColor(clearColor[0] / 255.0f, clearColor[1] / 255.0f, clearColor[2] / 255.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-e0, e0, -e1, e1, -100.0, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

/// A slice of orientation 0 through the origin with half extents e0 and e1
/// that draws only its image, with nearest interpolation.
template <typename Slice = GlSlice>
std::unique_ptr<Slice> imageSlice(double e0, double e1)
{
    SlicePlane plane(0);
    plane.extents = {e0, e1};
    auto slice = std::make_unique<Slice>(plane);
    slice->showImage = true;
    slice->showOutline = false;
    slice->setInterpolation(0);
    return slice;
}

/// An image slice exactly covering `image` (spacing 1).
std::unique_ptr<GlSlice> sliceOver(SharedImage& image)
{
    auto slice = imageSlice(image.width() * 0.5, image.height() * 0.5);
    slice->setImage(&image);
    return slice;
}

/// Grey value of the middle of the block that shows element (x, y).
int greyOfElement(const GlRenderTarget& target, int x, int y)
{
    return pixel(target, x * kBlock + kBlock / 2, y * kBlock + kBlock / 2)[0];
}

int expectedGrey(int value, double window, double level, double gamma)
{
    const double windowed = std::clamp((value / 255.0 - level) / window + 0.5, 0.0, 1.0);
    return static_cast<int>(std::lround(255.0 * std::pow(windowed, 1.0 / gamma)));
}

TEST(GlSlice, SettersClampTheirValues)
{
    GlSlice slice{SlicePlane(0)};
    const std::pair<int, int> interpolations[] = {{5, 2}, {-3, 0}, {1, 1}, {2, 2}};
    for (const auto& [given, stored] : interpolations) {
        slice.setInterpolation(given);
        EXPECT_EQ(slice.interpolation(), stored) << given;
    }
    const std::pair<double, double> factors[] = {{1.5, 1.0}, {-0.5, 0.0}, {0.25, 0.25},
                                                 {std::nan(""), 0.0}};
    for (const auto& [given, stored] : factors) {
        slice.setBlendFactor(given);
        EXPECT_EQ(slice.blendFactor(), stored) << given;
    }
}

TEST_F(GlSliceTest, ReadBackFollowsWindowLevelAndGamma)
{
    auto image = memoryImage<unsigned char>(8, 2, 1, 1, kGreys);
    image->syncGl();
    auto slice = sliceOver(*image);
    struct Case {
        double window, level, gamma;
    };
    const Case cases[] = {
        {1.0, 0.5, 1.0}, {0.5, 0.5, 1.0}, {0.25, 0.25, 1.0},
        {2.0, 0.5, 1.0}, {1.0, 0.7, 1.0}, {1.0, 0.5, 2.0},
    };
    GlRenderTarget target(8 * kBlock, 2 * kBlock);
    for (const Case& c : cases) {
        SCOPED_TRACE("window " + std::to_string(c.window) + " level " + std::to_string(c.level) +
                     " gamma " + std::to_string(c.gamma));
        slice->window = c.window;
        slice->level = c.level;
        slice->gamma = c.gamma;
        loadFrontView(target, 4, 1);
        slice->draw();
        for (int x = 0; x < 8; ++x) {
            const int expected = expectedGrey(kGreys[x], c.window, c.level, c.gamma);
            for (int y = 0; y < 2; ++y)
                EXPECT_NEAR(greyOfElement(target, x, y), expected, 2) << x << ", " << y;
        }
    }
    ASSERT_TRUE(slice->program());
    EXPECT_EQ(slice->program()->defines(), "");
}

TEST_F(GlSliceTest, ColourMapColoursTheWindowedValue)
{
    auto image = memoryImage<unsigned char>(8, 2, 1, 1, kGreys);
    image->syncGl();
    auto slice = sliceOver(*image);
    GlColormap jet(1, 256);
    slice->colormap = &jet;
    GlRenderTarget target(8 * kBlock, 2 * kBlock);
    loadFrontView(target, 4, 1);
    slice->draw();
    EXPECT_TRUE(colorNear(pixel(target, 5, 5), {0, 0, 128}, 2)) << "0: dark blue";
    EXPECT_TRUE(colorNear(pixel(target, 75, 5), {132, 0, 0}, 3)) << "255: dark red";
    EXPECT_TRUE(colorNear(pixel(target, 45, 5), {130, 255, 125}, 6)) << "128: green";
}

/// A slice whose program source is missing.
class SliceWithoutProgramSource : public GlSlice {
public:
    using GlSlice::GlSlice;

protected:
    std::unique_ptr<GlProgram> createProgram(const std::string&) const override
    {
        return std::make_unique<GlProgram>("NoSuchShader", nullptr);
    }
};

TEST_F(GlSliceTest, MissingProgramFallsBackToTheRawTextureUntilSwitchedOnAgain)
{
    auto image = memoryImage<unsigned char>(8, 2, 1, 1, kGreys);
    image->syncGl();
    auto sliceWithoutSource = imageSlice<SliceWithoutProgramSource>(4, 1);
    SliceWithoutProgramSource& slice = *sliceWithoutSource;
    slice.setImage(image.get());
    slice.window = 0.25;
    slice.level = 0.1;

    GlRenderTarget target(8 * kBlock, 2 * kBlock);
    LogCapture log;
    loadFrontView(target, 4, 1);
    slice.draw();
    EXPECT_TRUE(log.contains("ERROR Could not load shader program NoSuchShader"));
    EXPECT_FALSE(slice.useShader());
    EXPECT_FALSE(slice.program());
    for (int x = 0; x < 8; ++x)
        EXPECT_NEAR(greyOfElement(target, x, 0), kGreys[x], 1) << "unwindowed at " << x;
    GLint mode = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &mode);
    EXPECT_EQ(mode, GL_MODULATE) << "texture environment put back";
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));

    log.clear();
    slice.draw();
    EXPECT_TRUE(log.lines().empty()) << "no new attempt";
    slice.setUseShader(true);
    slice.draw();
    EXPECT_TRUE(log.contains("ERROR Could not load shader program NoSuchShader"));
}

TEST_F(GlSliceTest, SelectionIsBlendedOverTheFocusImage)
{
    auto bright = memoryImage<unsigned char>(2, 2, 1, 1, {200, 200, 200, 200});
    auto dark = memoryImage<unsigned char>(2, 2, 1, 1, {0, 0, 0, 0});
    auto grey = memoryImage<unsigned char>(2, 2, 1, 1, {100, 100, 100, 100});
    for (auto* image : {bright.get(), dark.get(), grey.get()})
        image->syncGl();
    SharedImageSet set(false);
    set.add(bright.get());
    set.add(dark.get());
    set.add(grey.get());
    struct Case {
        const char* what;
        Selection selection;
        bool blendSelection;
        double factor;
        int expected;
    };
    const Case cases[] = {
        {"only the focus selected", Selection(0, 0, 0, 0), true, 0.5, 200},
        {"dark over bright, half", Selection(0, 1, 0, 0), true, 0.5, 100},
        {"dark over bright, a quarter", Selection(0, 1, 0, 0), true, 0.25, 150},
        {"blending switched off", Selection(0, 1, 0, 0), false, 0.5, 200},
        {"every other: grey over bright", Selection(0, 2, 1, 0), true, 0.5, 150},
        {"dark then grey over bright", Selection(0, 2, 0, 0), true, 0.5, 100},
    };
    auto slice = imageSlice(1, 1);
    slice->setImages(&set);
    GlRenderTarget target(20, 20);
    for (bool depthTest : {false, true}) {
        SCOPED_TRACE(depthTest ? "depth test on" : "depth test off");
        for (const Case& c : cases) {
            set.setSelection(c.selection);
            slice->blendSelection = c.blendSelection;
            slice->setBlendFactor(c.factor);
            loadFrontView(target, 1, 1);
            if (depthTest)
                glEnable(GL_DEPTH_TEST);
            slice->draw();
            EXPECT_NEAR(pixel(target, 10, 10)[0], c.expected, 2) << c.what;
            EXPECT_FALSE(glIsEnabled(GL_BLEND)) << c.what;
            GLint depthFunction = 0;
            glGetIntegerv(GL_DEPTH_FUNC, &depthFunction);
            EXPECT_EQ(depthFunction, GL_LESS);
        }
        glDisable(GL_DEPTH_TEST);
    }
}

TEST_F(GlSliceTest, NothingIsDrawnWithoutAnOpenGlCopy)
{
    auto image = memoryImage<unsigned char>(8, 2, 1, 1, kGreys);
    auto slice = sliceOver(*image);
    slice->showOutline = true;
    GlRenderTarget target(8 * kBlock, 2 * kBlock);
    loadFrontView(target, 5, 2);
    slice->draw();
    const Picture picture(target);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            ASSERT_EQ(picture.at(x, y), clearColor) << x << ", " << y;
}

TEST_F(GlSliceTest, OutlineAndCrossingLinesTakeTheAxisColours)
{
    auto image = memoryImage<unsigned char>(4, 4, 1, 1, std::vector<unsigned char>(16, 0));
    image->syncGl();
    SlicePlane axialPlane(0);
    axialPlane.extents = {40, 40};
    GlSlice axial(axialPlane);
    axial.setImage(image.get());
    SlicePlane sagittalPlane(1);
    sagittalPlane.extents = {20, 20};
    GlSlice sagittal(sagittalPlane);
    sagittal.setImage(image.get());

    GlRenderTarget target(100, 100);
    loadFrontView(target, 50, 50);
    axial.draw();  // outline only
    EXPECT_TRUE(colorNearby(target, 10, 50, {255, 0, 0}, 0)) << "left edge at x = -40";
    EXPECT_TRUE(colorNear(pixel(target, 50, 50), clearColor, 0)) << "no image drawn";

    EXPECT_TRUE(axial.drawIntersection(sagittal));
    // The sagittal slice crosses along y from -20 to 20 at x = 0, in green.
    EXPECT_TRUE(colorNearby(target, 50, 50, {0, 255, 0}, 0));
    EXPECT_TRUE(colorNearby(target, 50, 35, {0, 255, 0}, 0));
    EXPECT_TRUE(colorNear(pixel(target, 50, 20), clearColor, 0)) << "beyond the sagittal slice";
    EXPECT_FALSE(axial.drawIntersection(axial));

    const std::pair<int, std::array<float, 3>> axes[] = {
        {1, {0, 1, 0}}, {2, {0, 0, 1}}, {0, {1, 0, 0}}};
    for (const auto& [orientation, colour] : axes) {
        const int axis = GlSlice(SlicePlane(orientation)).applyAxisColor();
        float current[4];
        glGetFloatv(GL_CURRENT_COLOR, current);
        EXPECT_EQ(axis, orientation == 0 ? 2 : orientation - 1);
        EXPECT_EQ((std::array<float, 3>{current[0], current[1], current[2]}), colour);
    }
}

/// A volume of `slices` slices of 4 x 4 voxels, slice k holding 20 k.
std::unique_ptr<SharedImage> layeredVolume(int slices)
{
    std::vector<unsigned char> values;
    for (int k = 0; k < slices; ++k)
        values.insert(values.end(), 16, static_cast<unsigned char>(20 * k));
    auto volume = memoryImage<unsigned char>(4, 4, slices, 1, values);
    volume->syncGl();
    return volume;
}

double centreZ(const GlSlice& slice)
{
    return slice.plane().centre()[2];
}

TEST_F(GlSliceTest, MoveSliceStaysInsideTheVolume)
{
    auto volume = layeredVolume(10);
    GlSlice slice(SlicePlane(0));
    slice.setImage(volume.get());
    struct Case {
        int steps;
        int index;
    };
    // Index i sits at z = i - 4.5.
    const Case cases[] = {{0, 5}, {4, 9}, {1, 9}, {-20, 0}, {-1, 0}, {3, 3}};
    for (const Case& c : cases) {
        EXPECT_EQ(slice.moveSlice(c.steps), c.index) << c.steps;
        EXPECT_DOUBLE_EQ(centreZ(slice), c.index - 4.5) << c.steps;
    }

    auto flat = memoryImage<unsigned char>(4, 4, 1, 1, std::vector<unsigned char>(16, 0));
    flat->syncGl();
    slice.setImage(flat.get());
    EXPECT_EQ(slice.moveSlice(3), 0);
    EXPECT_DOUBLE_EQ(centreZ(slice), -1.5) << "a 2-D image stays put";
}

TEST_F(GlSliceTest, MoveSliceWithoutTextureFollowsTheSignOfItsSteps)
{
    auto volume = memoryImage<unsigned char>(4, 4, 10, 1, std::vector<unsigned char>(160, 0));
    SlicePlane plane(0);
    plane.extents = {50, 10};
    GlSlice slice(plane);
    slice.setImage(volume.get());
    EXPECT_EQ(slice.moveSlice(2), 0);
    EXPECT_DOUBLE_EQ(centreZ(slice), 1.0);
    EXPECT_EQ(slice.moveSlice(-3), 0);
    EXPECT_DOUBLE_EQ(centreZ(slice), -0.5);
}

TEST_F(GlSliceTest, MoveSliceLandsOnTheSliceThatIsDrawn)
{
    auto volume = layeredVolume(10);
    SharedImageSet set(false);
    set.add(volume.get());
    // The volume's own matrix maps world points 2.3 further along z.
    Eigen::Matrix4d toVolume = Eigen::Matrix4d::Identity();
    toVolume(2, 3) = 2.3;
    set.setMatrix(toVolume);

    auto slice = imageSlice(2, 2);
    slice->setImages(&set);
    GlRenderTarget target(20, 20);
    for (int steps : {0, 1, 5, -3, -20}) {
        const int index = slice->moveSlice(steps);
        loadFrontView(target, 2, 2);
        slice->draw();
        EXPECT_NEAR(pixel(target, 10, 10)[0], 20 * index, 1) << "after " << steps << " steps";
    }
}

}  // namespace
}  // namespace Veltrane
