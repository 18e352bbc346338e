#include "core/GlImage.h"

#include "core/GlObjectRelease.h"
#include "core/TypedImage.h"
#include "testsupport/GlTest.h"
#include "testsupport/LogCapture.h"

#include <GL/glew.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace Veltrane {
namespace {

using GlImageTest = GlTest;

/// A memory image of `type` whose bytes follow a pattern that every texture
/// format below stores exactly.
std::unique_ptr<MemImage> patternImage(int type, int w, int h, int s, int c)
{
    std::unique_ptr<MemImage> image(MemImage::create(type, w, h, s, c));
    for (std::size_t i = 0; i < image->elementCount(); ++i) {
        void* data = image->data();
        if (type == PixelType::UnsignedByte)
            static_cast<unsigned char*>(data)[i] = static_cast<unsigned char>(i * 7 + 3);
        else if (type == PixelType::UnsignedShort)
            static_cast<unsigned short*>(data)[i] = static_cast<unsigned short>(i * 97 + 1);
        else if (type == PixelType::HalfFloat)  // 0.5 ... 1.0 in small steps
            static_cast<unsigned short*>(data)[i] = static_cast<unsigned short>(0x3800 + i % 1024);
        else if (type == PixelType::Float)
            static_cast<float*>(data)[i] = static_cast<float>(i % 1000) * 0.25f - 20.0f;
    }
    return image;
}

bool sameBytes(const Image& a, const Image& b)
{
    return a.byteSize() == b.byteSize() && std::memcmp(a.data(), b.data(), a.byteSize()) == 0;
}

GLint levelParameter(const GlImage& image, GLenum parameter)
{
    GLint value = 0;
    glBindTexture(image.target(), image.texture());
    glGetTexLevelParameteriv(image.target(), 0, parameter, &value);
    glBindTexture(image.target(), 0);
    return value;
}

GLint integerState(GLenum parameter)
{
    GLint value = 0;
    glGetIntegerv(parameter, &value);
    return value;
}

struct RoundTripCase {
    const char* name;
    int type, width, height, slices, channels;
    GLenum target;
    GLint internalFormat;
    GLenum format;
};

TEST_F(GlImageTest, UploadAndDownloadRoundTripEveryLayout)
{
    const RoundTripCase cases[] = {
        {"depth frame", PixelType::UnsignedShort, 640, 480, 1, 1, GL_TEXTURE_2D, GL_INTENSITY16,
         GL_LUMINANCE},
        {"rows of 1923 bytes", PixelType::UnsignedByte, 641, 3, 1, 3, GL_TEXTURE_2D, GL_RGB,
         GL_RGB},
        {"rows of 10 bytes", PixelType::UnsignedByte, 5, 3, 1, 2, GL_TEXTURE_2D,
         GL_LUMINANCE_ALPHA, GL_LUMINANCE_ALPHA},
        {"byte line", PixelType::UnsignedByte, 128, 1, 1, 1, GL_TEXTURE_1D, GL_INTENSITY,
         GL_LUMINANCE},
        {"half floats", PixelType::HalfFloat, 9, 4, 1, 1, GL_TEXTURE_2D, GL_INTENSITY16,
         GL_LUMINANCE},
        {"float volume", PixelType::Float, 8, 6, 5, 1, GL_TEXTURE_3D, GL_INTENSITY32F_ARB,
         GL_LUMINANCE},
        {"odd float colour volume", PixelType::Float, 7, 5, 3, 4, GL_TEXTURE_3D,
         GL_RGBA32F_ARB, GL_RGBA},
    };
    for (const RoundTripCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto source = patternImage(c.type, c.width, c.height, c.slices, c.channels);
        source->spacing = {0.5, 2.0, 3.0};
        source->shift = 7.0;
        source->scale = 3.0;
        const GLint unpackBefore = integerState(GL_UNPACK_ALIGNMENT);

        GlImage texture(source.get());
        EXPECT_EQ(texture.target(), c.target);
        EXPECT_EQ(texture.internalFormat(), c.internalFormat);
        EXPECT_EQ(texture.format(), c.format);
        EXPECT_EQ(texture.shift, 7.0);
        EXPECT_EQ(integerState(GL_UNPACK_ALIGNMENT), unpackBefore);

        std::unique_ptr<MemImage> back(texture.download());
        ASSERT_TRUE(back);
        EXPECT_EQ(back->type, c.type);
        EXPECT_EQ(back->width, c.width);
        EXPECT_EQ(back->slices, c.slices);
        EXPECT_TRUE(sameBytes(*back, *source));
        EXPECT_EQ(back->spacing, source->spacing);
        EXPECT_EQ(back->shift, 0.0);
        EXPECT_EQ(back->scale, 1.0);
    }
}

TEST_F(GlImageTest, TransfersIgnoreTheAlignmentLeftByOthers)
{
    auto first = patternImage(PixelType::UnsignedByte, 641, 3, 1, 3);
    GlImage texture(PixelType::UnsignedByte, 641, 3, 1, 3);
    auto second = patternImage(PixelType::UnsignedByte, 641, 3, 1, 3);
    static_cast<unsigned char*>(second->data())[0] = 255;

    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    glPixelStorei(GL_PACK_ALIGNMENT, 8);
    ASSERT_TRUE(texture.upload(first->data()));
    std::unique_ptr<MemImage> back(texture.download());
    EXPECT_TRUE(sameBytes(*back, *first));
    ASSERT_TRUE(texture.update(second.get()));
    back.reset(texture.download());
    EXPECT_TRUE(sameBytes(*back, *second));
    EXPECT_EQ(integerState(GL_UNPACK_ALIGNMENT), 8);
    EXPECT_EQ(integerState(GL_PACK_ALIGNMENT), 8);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
}

TEST_F(GlImageTest, StorageWithoutDataChoosesFormatsByDriverAndType)
{
    GlImage depthFrame(PixelType::UnsignedShort, 640, 480, 1, 1);
    EXPECT_EQ(depthFrame.internalFormat(),
              GLEW_ARB_texture_float ? GL_INTENSITY16F_ARB : GL_INTENSITY16);

    GlImage depth(PixelType::Float, 16, 16, 1, 3, GL_DEPTH_COMPONENT24);
    EXPECT_EQ(depth.format(), static_cast<unsigned>(GL_DEPTH_COMPONENT));
    EXPECT_EQ(depth.internalFormat(), GL_DEPTH_COMPONENT24);

    GlImage integers(PixelType::Int, 4, 4, 1, 2);
    EXPECT_EQ(integers.type, PixelType::UnsignedByte);
    EXPECT_EQ(integers.internalFormat(), 2);
    EXPECT_EQ(levelParameter(integers, GL_TEXTURE_WIDTH), 4);
}

TEST_F(GlImageTest, RefusesDataThatWouldBeReadAsBytes)
{
    for (int type : {PixelType::Byte, PixelType::Short, PixelType::Int, PixelType::UnsignedInt,
                     PixelType::Double}) {
        SCOPED_TRACE(type);
        std::unique_ptr<MemImage> source(MemImage::create(type, 4, 4, 1, 1));
        LogCapture log;
        EXPECT_THROW(GlImage{source.get()}, std::runtime_error);
        EXPECT_TRUE(log.contains("ERROR GlImage: elements of type " + std::to_string(type) +
                                 " cannot be uploaded to a texture"));

        GlImage texture(PixelType::UnsignedByte, 2, 2, 1, 1);
        EXPECT_THROW(texture.update(source.get()), std::runtime_error);
        EXPECT_EQ(texture.width, 2) << "a refused update keeps the header";
    }
}

TEST_F(GlImageTest, RowAlignmentIsTheLargestDivisorOfTheRowLength)
{
    struct Case {
        int type, width, channels, alignment;
    };
    const Case cases[] = {{PixelType::UnsignedByte, 641, 3, 1},   // 1923 bytes
                          {PixelType::UnsignedByte, 320, 4, 8},   // 1280 bytes
                          {PixelType::UnsignedByte, 2, 3, 2},     // 6 bytes
                          {PixelType::UnsignedShort, 3, 2, 4},    // 12 bytes
                          {PixelType::Float, 3, 1, 4}};           // 12 bytes
    for (const Case& c : cases) {
        GlImage texture(c.type, c.width, 2, 1, c.channels);
        EXPECT_EQ(texture.rowAlignment(), c.alignment) << c.width << " x " << c.channels;
    }
}

TEST_F(GlImageTest, UpdateKeepsTheTextureNameAndFollowsNewHeaders)
{
    auto frame = patternImage(PixelType::UnsignedShort, 16, 8, 1, 1);
    GlImage texture(frame.get());
    const unsigned name = texture.texture();

    static_cast<unsigned short*>(frame->data())[5] = 4242;
    ASSERT_TRUE(texture.update(frame.get()));
    EXPECT_EQ(texture.texture(), name);
    std::unique_ptr<MemImage> back(texture.download());
    EXPECT_TRUE(sameBytes(*back, *frame));

    auto wider = patternImage(PixelType::UnsignedShort, 24, 8, 1, 1);
    wider->spacing = {9.0, 9.0, 9.0};
    ASSERT_TRUE(texture.update(wider.get()));
    EXPECT_EQ(texture.texture(), name);
    EXPECT_EQ(texture.width, 24);
    EXPECT_EQ(texture.spacing[0], 1.0) << "update takes sizes, not spacing";
    EXPECT_EQ(levelParameter(texture, GL_TEXTURE_WIDTH), 24);
    back.reset(texture.download());
    EXPECT_TRUE(sameBytes(*back, *wider));

    auto volume = patternImage(PixelType::Float, 4, 4, 3, 1);
    ASSERT_TRUE(texture.update(volume.get()));
    EXPECT_EQ(texture.target(), static_cast<unsigned>(GL_TEXTURE_3D));
    back.reset(texture.download());
    EXPECT_TRUE(sameBytes(*back, *volume));

    const Image header(PixelType::Float, 4, 4, 3, 1);
    EXPECT_FALSE(texture.update(&header));
    EXPECT_FALSE(texture.upload(nullptr));
}

TEST_F(GlImageTest, ResizeKeepsTheDimensionality)
{
    struct Case {
        int width, height, slices;
        int expected[3];
    };
    const Case cases[] = {{8, 8, 1, {32, 16, 1}}, {8, 8, 4, {32, 16, 4}}, {8, 1, 1, {32, 1, 1}}};
    for (const Case& c : cases) {
        GlImage texture(PixelType::UnsignedByte, c.width, c.height, c.slices, 4);
        const GLenum target = texture.target();
        ASSERT_TRUE(texture.resize(32, 16, 4));
        EXPECT_EQ(texture.target(), target);
        EXPECT_EQ(texture.width, c.expected[0]);
        EXPECT_EQ(texture.height, c.expected[1]);
        EXPECT_EQ(texture.slices, c.expected[2]);
        EXPECT_EQ(levelParameter(texture, GL_TEXTURE_WIDTH), c.expected[0]);
        EXPECT_EQ(levelParameter(texture, GL_TEXTURE_HEIGHT), c.expected[1]);
        EXPECT_EQ(levelParameter(texture, GL_TEXTURE_DEPTH), c.expected[2]);
    }
}

TEST_F(GlImageTest, ResizeToAnotherKindOfTextureMakesItAnew)
{
    struct Case {
        const char* name;
        int width, height, slices;
        int newSize[3];
        GLenum target;
    };
    const Case cases[] = {
        {"2-D to one row", 8, 8, 1, {16, 1, 1}, GL_TEXTURE_1D},
        {"3-D to one slice", 8, 8, 4, {16, 4, 1}, GL_TEXTURE_2D},
        {"3-D to one row", 8, 8, 4, {16, 1, 1}, GL_TEXTURE_1D},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GlImage texture(PixelType::UnsignedByte, c.width, c.height, c.slices, 4);
        ASSERT_TRUE(texture.resize(c.newSize[0], c.newSize[1], c.newSize[2]));
        EXPECT_EQ(texture.target(), c.target);
        EXPECT_EQ(levelParameter(texture, GL_TEXTURE_WIDTH), c.newSize[0]);
        const auto pattern = patternImage(PixelType::UnsignedByte, c.newSize[0], c.newSize[1], c.newSize[2], 4);
        ASSERT_TRUE(texture.upload(pattern->data()));
        std::unique_ptr<MemImage> back;
        ASSERT_NO_THROW(back.reset(texture.download()));
        EXPECT_TRUE(sameBytes(*back, *pattern));
    }
}

TEST_F(GlImageTest, BindUsesTheGivenUnitAndUnbindTheSame)
{
    GlImage texture(PixelType::UnsignedByte, 4, 4, 1, 4);
    texture.bind(3);
    EXPECT_EQ(texture.lastUnit(), 3);
    EXPECT_EQ(integerState(GL_ACTIVE_TEXTURE), GL_TEXTURE3);
    EXPECT_EQ(integerState(GL_TEXTURE_BINDING_2D), static_cast<GLint>(texture.texture()));
    glActiveTexture(GL_TEXTURE0);
    texture.unbind();
    EXPECT_EQ(integerState(GL_ACTIVE_TEXTURE), GL_TEXTURE3);
    EXPECT_EQ(integerState(GL_TEXTURE_BINDING_2D), 0);
    glActiveTexture(GL_TEXTURE0);
}

TEST_F(GlImageTest, DownloadConvertsToAnotherElementType)
{
    auto source = patternImage(PixelType::UnsignedByte, 3, 2, 1, 1);
    GlImage texture(source.get());
    std::unique_ptr<MemImage> back(texture.download(PixelType::Float));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->type, PixelType::Float);
    for (std::size_t i = 0; i < back->elementCount(); ++i)
        EXPECT_FLOAT_EQ(static_cast<float>(back->value(i)), source->value(i) / 255.0) << i;
    EXPECT_EQ(texture.download(1234), nullptr);
}

TEST_F(GlImageTest, TextureDestroyedWithoutContextGoesWhenTheContextReturns)
{
    auto texture = std::make_unique<GlImage>(PixelType::UnsignedByte, 4, 4, 1, 1);
    const GLuint name = texture->texture();
    GlTestContext::runWithoutContext([&] { texture.reset(); });
    EXPECT_TRUE(glIsTexture(name));
    collectReleasedGlObjects();
    EXPECT_FALSE(glIsTexture(name));
}

}  // namespace
}  // namespace Veltrane
