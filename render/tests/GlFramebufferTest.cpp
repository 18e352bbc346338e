#include "render/GlFramebuffer.h"

#include "core/GlImage.h"
#include "core/GlObjectRelease.h"
#include "core/TypedImage.h"
#include "testsupport/GlTest.h"
#include "testsupport/LogCapture.h"

#include <GL/glew.h>

#include <memory>
#include <stdexcept>

namespace Veltrane {
namespace {

using GlFramebufferTest = GlTest;

GLint attachmentParameter(GLenum attachment, GLenum parameter)
{
    GLint value = 0;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, attachment, parameter, &value);
    return value;
}

TEST(FramebufferStatusName, NamesEveryStatus)
{
    const std::pair<unsigned, const char*> cases[] = {
        {GL_FRAMEBUFFER_UNDEFINED, "Framebuffer undefined"},
        {GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT, "Incomplete attachment"},
        {GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT, "Incomplete missing attachment"},
        {GL_FRAMEBUFFER_INCOMPLETE_DIMENSIONS_EXT, "Incomplete dimensions"},
        {GL_FRAMEBUFFER_INCOMPLETE_FORMATS_EXT, "Incomplete formats"},
        {GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER, "Incomplete draw buffer"},
        {GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER, "Incomplete read buffer"},
        {GL_FRAMEBUFFER_UNSUPPORTED, "Framebuffer unsupported"},
        {GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE, "Incomplete multisample"},
        {0xabcd, "Unknown error 0xabcd"},
    };
    for (const auto& [status, name] : cases)
        EXPECT_EQ(framebufferStatusName(status), name);
}

TEST_F(GlFramebufferTest, IncompleteFramebufferLogsAndThrows)
{
    GlFramebuffer framebuffer;
    framebuffer.bind();
    LogCapture log;
    EXPECT_THROW(framebuffer.checkStatus(), std::runtime_error);
    EXPECT_TRUE(log.contains("ERROR OpenGL framebuffer error: Incomplete missing attachment"));

    // Shared-exponent textures cannot be rendered to: the attachment stays made.
    GlImage sharedExponent(PixelType::Float, 8, 8, 1, 3, GL_RGB9_E5);
    log.clear();
    try {
        framebuffer.attach(&sharedExponent, 0);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "OpenGL framebuffer error");
    }
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.countStartingWith("ERROR OpenGL framebuffer error: "), 1u);
    EXPECT_EQ(attachmentParameter(GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME),
              static_cast<GLint>(sharedExponent.texture()));
    EXPECT_TRUE(framebuffer.drawBuffers().empty());
    framebuffer.unbind();
}

TEST_F(GlFramebufferTest, AttachesColourAndDepthAndRendersIntoTheTexture)
{
    GlImage colour(PixelType::UnsignedByte, 16, 8, 1, 4);
    GlImage depth(PixelType::Float, 16, 8, 1, 1, GL_DEPTH_COMPONENT24);
    GlFramebuffer framebuffer;
    framebuffer.bind();
    framebuffer.attach(&colour, 0);
    framebuffer.attach(&colour, 0);
    framebuffer.attach(&depth, 0);
    EXPECT_EQ(framebuffer.drawBuffers(), std::vector<unsigned>{GL_COLOR_ATTACHMENT0_EXT});
    EXPECT_EQ(attachmentParameter(GL_DEPTH_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME),
              static_cast<GLint>(depth.texture()));
    EXPECT_TRUE(framebuffer.checkStatus());

    framebuffer.setDrawBuffers();
    glViewport(0, 0, 16, 8);
    glClearColor(1.0f, 0.0f, 0.5f, 1.0f);
    glClearDepth(0.25);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    framebuffer.unbind();

    std::unique_ptr<MemImage> pixels(colour.download());
    EXPECT_EQ(pixels->value(0), 255.0);
    EXPECT_EQ(pixels->value(1), 0.0);
    EXPECT_NEAR(pixels->value(pixels->elementCount() - 2), 128.0, 1.0);
    std::unique_ptr<MemImage> depths(depth.download());
    EXPECT_NEAR(depths->value(5), 0.25, 1e-6);

    framebuffer.bind();
    framebuffer.detachColor(0);
    EXPECT_TRUE(framebuffer.drawBuffers().empty());
    EXPECT_EQ(attachmentParameter(GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME), 0);
    framebuffer.unbind();
}

TEST_F(GlFramebufferTest, AttachesOneLayerOrAllLayersOfAVolume)
{
    GlImage volume(PixelType::UnsignedByte, 8, 8, 4, 4);
    GlImage line(PixelType::UnsignedByte, 8, 1, 1, 4);
    GlFramebuffer framebuffer;
    framebuffer.bind();

    framebuffer.attach(&volume, 1, 2);
    EXPECT_EQ(attachmentParameter(GL_COLOR_ATTACHMENT1, GL_FRAMEBUFFER_ATTACHMENT_TEXTURE_LAYER),
              2);
    framebuffer.attach(&volume, 1);
    EXPECT_EQ(attachmentParameter(GL_COLOR_ATTACHMENT1, GL_FRAMEBUFFER_ATTACHMENT_LAYERED),
              GL_TRUE);
    framebuffer.detachColor(1);
    framebuffer.attach(&line, 2);
    EXPECT_EQ(attachmentParameter(GL_COLOR_ATTACHMENT2, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME),
              static_cast<GLint>(line.texture()));
    EXPECT_EQ(framebuffer.drawBuffers(), std::vector<unsigned>{GL_COLOR_ATTACHMENT2_EXT});
    framebuffer.unbind();
}

TEST_F(GlFramebufferTest, DestroyedWithoutContextGoesWhenTheContextReturns)
{
    auto framebuffer = std::make_unique<GlFramebuffer>();
    framebuffer->bind();
    framebuffer->unbind();
    const GLuint name = framebuffer->framebuffer();
    GlTestContext::runWithoutContext([&] { framebuffer.reset(); });
    EXPECT_TRUE(glIsFramebuffer(name));
    collectReleasedGlObjects();
    EXPECT_FALSE(glIsFramebuffer(name));
}

}  // namespace
}  // namespace Veltrane
