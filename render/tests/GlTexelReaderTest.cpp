#include "render/GlTexelReader.h"

#include "core/GlImage.h"
#include "RenderTestSupport.h"

#include <GL/glew.h>

#include <QGLWidget>

namespace Veltrane {
namespace {

using GlTexelReaderTest = GlTest;

TEST(GlTexelReader, SamplesAtTheTexelCentre)
{
    const Image header(PixelType::UnsignedByte, 4, 2, 5, 1);
    const auto centre = GlTexelReader::texelCentre(header, 3, 1, 0);
    EXPECT_FLOAT_EQ(centre[0], 0.875f);
    EXPECT_FLOAT_EQ(centre[1], 0.75f);
    EXPECT_FLOAT_EQ(centre[2], 0.1f);
}

TEST_F(GlTexelReaderTest, ReadsEveryTexelOfImagesVolumesAndRows)
{
    struct Case {
        const char* what;
        int width, height, slices, channels;
    };
    const Case cases[] = {
        {"grey image", 4, 3, 1, 1},
        {"RGB image", 3, 2, 1, 3},
        {"grey and alpha", 2, 2, 1, 2},
        {"volume", 3, 2, 4, 1},
        {"one row", 5, 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<float> values(
            static_cast<std::size_t>(c.width) * c.height * c.slices * c.channels);
        for (std::size_t i = 0; i < values.size(); ++i)
            values[i] = static_cast<float>(i + 1) / 100.0f;
        GlImage image(PixelType::Float, c.width, c.height, c.slices, c.channels, 0, values.data());
        for (int z = 0; z < c.slices; ++z) {
            for (int y = 0; y < c.height; ++y) {
                for (int x = 0; x < c.width; ++x) {
                    const std::array<float, 4> texel =
                        GlTexelReader::instance().read(&image, x, y, z);
                    const std::size_t first =
                        ((static_cast<std::size_t>(z) * c.height + y) * c.width + x) * c.channels;
                    EXPECT_FLOAT_EQ(texel[0], values[first]) << x << ", " << y << ", " << z;
                    if (c.channels == 2) {
                        EXPECT_FLOAT_EQ(texel[3], values[first + 1]);
                    } else if (c.channels == 3) {
                        EXPECT_FLOAT_EQ(texel[2], values[first + 2]);
                    }
                }
            }
        }
    }
}

TEST_F(GlTexelReaderTest, ReadsInAContextThatDoesNotShareTheFirstOnesObjects)
{
    const std::vector<float> values = {0.25f, 0.5f, 0.75f, 1.0f};
    {
        GlImage image(PixelType::Float, 2, 2, 1, 1, 0, values.data());
        EXPECT_FLOAT_EQ(GlTexelReader::instance().read(&image, 1, 0, 0)[0], 0.5f);
    }
    QGLWidget other;
    other.makeCurrent();
    {
        GlImage image(PixelType::Float, 2, 2, 1, 1, 0, values.data());
        EXPECT_FLOAT_EQ(GlTexelReader::instance().read(&image, 0, 1, 0)[0], 0.75f);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
    GlTestContext::makeCurrent(nullptr);
}

TEST_F(GlTexelReaderTest, ReadLeavesTheCallersTargetAndMatricesAlone)
{
    GlRenderTarget target(20, 10);
    glViewport(2, 3, 5, 6);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-7.0, 7.0, -1.0, 1.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslated(1.0, 2.0, 3.0);
    const float value = 0.5f;
    GlImage image(PixelType::Float, 2, 2, 1, 1, 0, std::vector<float>(4, value).data());

    EXPECT_FLOAT_EQ(GlTexelReader::instance().read(&image, 1, 1, 0)[0], value);

    EXPECT_TRUE(drawingInto(target, {2, 3, 5, 6}));
    double projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    EXPECT_FLOAT_EQ(static_cast<float>(projection[0]), 1.0f / 7.0f);
    double modelview[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    EXPECT_DOUBLE_EQ(modelview[14], 3.0);
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
}

}  // namespace
}  // namespace Veltrane
