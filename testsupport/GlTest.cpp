#include "testsupport/GlTest.h"

#include <GL/glew.h>

#include <QApplication>
#include <QGLWidget>
#include <QImage>

#include <cstdlib>

namespace Veltrane {
namespace {

struct SharedContext {
    QGLWidget* widget = nullptr;
    std::string failure;
};

SharedContext createContext()
{
    SharedContext result;
    if (!QApplication::instance()) {
        if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
            result.failure = "no display: run the tests under xvfb-run";
            return result;
        }
        static int argc = 1;
        static char name[] = "korvastel_tests";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);  // lives until the process ends
    }
    QGLFormat format;
    format.setVersion(4, 3);
    format.setProfile(QGLFormat::CompatibilityProfile);
    format.setDepth(true);
    auto* widget = new QGLWidget(format);
    widget->makeCurrent();
    if (!widget->isValid()) {
        delete widget;
        result.failure = "no valid OpenGL context";
        return result;
    }
    const GLenum status = glewInit();
    if (status != GLEW_OK) {
        result.failure = std::string("glewInit failed: ") +
                         reinterpret_cast<const char*>(glewGetErrorString(status));
        return result;
    }
    result.widget = widget;
    return result;
}

const SharedContext& sharedContext()
{
    static const SharedContext context = createContext();
    return context;
}

}  // namespace

bool GlTestContext::makeCurrent(std::string* why)
{
    const SharedContext& context = sharedContext();
    if (!context.widget) {
        if (why)
            *why = context.failure;
        return false;
    }
    context.widget->makeCurrent();
    return true;
}

QGLWidget* GlTestContext::widget()
{
    return sharedContext().widget;
}

void GlTestContext::runWithoutContext(const std::function<void()>& action)
{
    QGLWidget* context = widget();
    context->doneCurrent();
    action();
    context->makeCurrent();
}

void GlTest::SetUp()
{
    std::string why;
    ASSERT_TRUE(GlTestContext::makeCurrent(&why)) << why;
    while (glGetError() != GL_NO_ERROR) {
    }
}

void GlTest::TearDown()
{
    if (GlTestContext::widget()) {
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "OpenGL error left pending";
    }
}

GlRenderTarget::GlRenderTarget(int width, int height) : m_width(width), m_height(height)
{
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &m_previousFramebuffer);
    glGetIntegerv(GL_VIEWPORT, m_previousViewport.data());

    glGenRenderbuffers(1, &m_colour);
    glBindRenderbuffer(GL_RENDERBUFFER, m_colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glGenRenderbuffers(1, &m_depth);
    glBindRenderbuffer(GL_RENDERBUFFER, m_depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);

    glGenFramebuffers(1, &m_framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_colour);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, m_depth);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER),
              static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    glViewport(0, 0, width, height);
}

GlRenderTarget::~GlRenderTarget()
{
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(m_previousFramebuffer));
    glViewport(m_previousViewport[0], m_previousViewport[1], m_previousViewport[2],
               m_previousViewport[3]);
    glDeleteFramebuffers(1, &m_framebuffer);
    glDeleteRenderbuffers(1, &m_colour);
    glDeleteRenderbuffers(1, &m_depth);
}

std::array<unsigned char, 4> GlRenderTarget::rgba(int x, int y) const
{
    std::array<unsigned char, 4> pixel{};
    glBindFramebuffer(GL_READ_FRAMEBUFFER, m_framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return pixel;
}

float GlRenderTarget::depth(int x, int y) const
{
    float value = 0.0f;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, m_framebuffer);
    glReadPixels(x, y, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &value);
    return value;
}

std::vector<unsigned char> GlRenderTarget::readRgba() const
{
    std::vector<unsigned char> pixels(static_cast<std::size_t>(m_width) * m_height * 4);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, m_framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, m_width, m_height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    return pixels;
}

bool GlRenderTarget::saveScreenshot(const std::string& name) const
{
    const std::vector<unsigned char> pixels = readRgba();
    const QImage image(pixels.data(), m_width, m_height, m_width * 4, QImage::Format_RGBA8888);
    return image.mirrored().save(QString::fromStdString(screenshotPath(name)), "PNG");
}

}  // namespace Veltrane
