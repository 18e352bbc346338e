#include "render/GpuHistogram.h"

#include "RenderTestSupport.h"
#include "core/GlImage.h"
#include "core/SharedImage.h"

#include <GL/glew.h>

#include <numeric>
#include <random>

namespace Veltrane {
namespace {

using GpuHistogramTest = GlTest;

/// The bins that hold counts, as (bin, count) pairs.
std::vector<std::pair<int, float>> filledBins(const std::vector<float>& counts)
{
    std::vector<std::pair<int, float>> filled;
    for (std::size_t i = 0; i < counts.size(); ++i)
        if (counts[i] != 0.0f)
            filled.emplace_back(static_cast<int>(i), counts[i]);
    return filled;
}

float total(const std::vector<float>& counts)
{
    return std::accumulate(counts.begin(), counts.end(), 0.0f);
}

TEST_F(GpuHistogramTest, CpuBinsOfKnownPixels)
{
    using Bins = std::vector<std::pair<int, float>>;
    struct Case {
        const char* what;
        std::unique_ptr<SharedImage> image;
        Bins expected;
    };
    Case cases[] = {
        // 128 / 255 * 255 + 0.5 rounds down to 128.
        {"grey bytes", memoryImage<unsigned char>(3, 1, 1, 1, {0, 128, 255}),
         {{0, 1}, {128, 1}, {255, 1}}},
        {"mean of a red pixel", memoryImage<unsigned char>(1, 1, 1, 3, {255, 0, 0}), {{85, 1}}},
        {"mean of three equal bytes", memoryImage<unsigned char>(1, 1, 1, 3, {1, 1, 1}), {{1, 1}}},
        {"alpha of RGBA is ignored",
         memoryImage<unsigned char>(2, 1, 1, 4, {0, 0, 0, 255, 255, 255, 255, 0}),
         {{0, 1}, {255, 1}}},
        {"grey and alpha: one count per pixel, by the grey",
         memoryImage<unsigned char>(2, 1, 1, 2, {255, 0, 0, 255}), {{0, 1}, {255, 1}}},
        {"16-bit depth", memoryImage<unsigned short>(2, 1, 1, 1, {65535, 257}),
         {{1, 1}, {255, 1}}},
        {"floats beyond 0 ... 1 and NaN",
         memoryImage<float>(4, 1, 1, 1, {2.0f, -1.0f, 0.5f, std::nanf("")}),
         {{0, 2}, {128, 1}, {255, 1}}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        GpuHistogram histogram(256);
        ASSERT_TRUE(histogram.compute(c.image.get(), 0));
        EXPECT_EQ(filledBins(histogram.counts()), c.expected);
        EXPECT_EQ(histogram.sampleCount(), c.image->width());
    }
}

/// An image of random elements, its memory and OpenGL copies in step.
template <typename T>
std::unique_ptr<SharedImage> randomImage(int width, int height, int slices, int channels,
                                         unsigned seed, T maximum)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(0, static_cast<int>(maximum));
    std::vector<T> values(static_cast<std::size_t>(width) * height * slices * channels);
    for (T& v : values)
        v = static_cast<T>(value(random));
    auto image = memoryImage<T>(width, height, slices, channels, values);
    image->syncGl();
    return image;
}

TEST_F(GpuHistogramTest, CpuAndGpuCountTheSameImagesAlike)
{
    ASSERT_TRUE(GLEW_ARB_color_buffer_float);
    struct Case {
        const char* what;
        std::unique_ptr<SharedImage> image;
    };
    Case cases[] = {
        {"grey bytes", randomImage<unsigned char>(37, 21, 1, 1, 1, 255)},
        {"grey and alpha", randomImage<unsigned char>(16, 9, 1, 2, 2, 255)},
        {"RGB", randomImage<unsigned char>(29, 17, 1, 3, 3, 255)},
        {"RGBA", randomImage<unsigned char>(8, 8, 1, 4, 4, 255)},
        {"16-bit depth", randomImage<unsigned short>(40, 30, 1, 1, 5, 65535)},
        {"one row", randomImage<unsigned char>(50, 1, 1, 1, 6, 255)},
        {"a volume", randomImage<unsigned char>(9, 7, 5, 1, 7, 255)},
        {"an RGB volume", randomImage<unsigned char>(6, 5, 4, 3, 8, 255)},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        GpuHistogram cpu(256);
        GpuHistogram gpu(256);
        ASSERT_TRUE(cpu.compute(c.image.get(), 0));
        ASSERT_TRUE(gpu.compute(c.image.get(), 1));
        EXPECT_EQ(gpu.counts(), cpu.counts());
        const long long pixels =
            static_cast<long long>(c.image->width()) * c.image->height() * c.image->slices();
        EXPECT_EQ(cpu.sampleCount(), pixels);
        EXPECT_EQ(gpu.sampleCount(), pixels);
        EXPECT_EQ(total(gpu.counts()), static_cast<float>(pixels));
    }
}

TEST_F(GpuHistogramTest, CountsAddUpOverComputesOnBothPaths)
{
    auto image = randomImage<unsigned char>(10, 10, 1, 1, 11, 255);
    GpuHistogram histogram(64);
    ASSERT_TRUE(histogram.compute(image.get(), 1));
    ASSERT_TRUE(histogram.compute(image.get(), 0));
    ASSERT_TRUE(histogram.compute(image.get(), 1));
    EXPECT_EQ(histogram.sampleCount(), 300);
    EXPECT_EQ(total(histogram.counts()), 300.0f);

    histogram.setBins(64);  // the current count: counts kept
    EXPECT_EQ(total(histogram.counts()), 300.0f);
    histogram.setBins(16);  // another count: empty bins
    EXPECT_EQ(histogram.counts(), std::vector<float>(16, 0.0f));
    EXPECT_EQ(histogram.sampleCount(), 300);
}

TEST_F(GpuHistogramTest, MissingCopiesAreRefusedAndEmptyImagesCountNothing)
{
    GpuHistogram histogram(8);
    EXPECT_FALSE(histogram.compute(nullptr, 0));
    auto image = memoryImage<unsigned char>(2, 2, 1, 1, {1, 2, 3, 4});
    EXPECT_FALSE(histogram.compute(image.get(), 1)) << "no OpenGL copy";
    EXPECT_EQ(histogram.sampleCount(), 0);

    auto empty = memoryImage<unsigned char>(0, 0, 1, 1, {});
    empty->syncGl();
    EXPECT_TRUE(histogram.compute(empty.get(), 1));
    EXPECT_TRUE(histogram.compute(empty.get(), 0));
    EXPECT_EQ(histogram.sampleCount(), 0);
    EXPECT_EQ(histogram.counts(), std::vector<float>(8, 0.0f));
}

TEST_F(GpuHistogramTest, GpuPathLeavesTheCallersDrawingStateAlone)
{
    GlRenderTarget target(40, 30);
    glViewport(3, 4, 20, 10);
    glDisable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    auto image = randomImage<unsigned char>(10, 10, 1, 3, 12, 255);

    GpuHistogram histogram(256);
    ASSERT_TRUE(histogram.compute(image.get(), 1));

    EXPECT_TRUE(drawingInto(target, {3, 4, 20, 10}));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    GLint source = 0;
    glGetIntegerv(GL_BLEND_SRC_RGB, &source);
    EXPECT_EQ(source, GL_SRC_ALPHA);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
    GLint program = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    EXPECT_EQ(program, 0);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}

}  // namespace
}  // namespace Veltrane
