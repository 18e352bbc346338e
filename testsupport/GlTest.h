#pragma once

#include "testsupport/Screenshots.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

class QGLWidget;

namespace Veltrane {

/// The process's OpenGL compatibility context for tests: a hidden QGLWidget
/// asking for OpenGL 4.3 compatibility, made on first use together with the
/// QApplication it needs (when there is none yet), with GLEW initialised once.
/// Under X11 the Qt platform must use GLX (QT_XCB_GL_INTEGRATION=xcb_glx) so
/// that GLEW finds its entry points.
class GlTestContext {
public:
    /// Makes the context current; on failure returns false and says why.
    static bool makeCurrent(std::string* why);
    /// The widget that holds the context; null until makeCurrent() succeeded.
    static QGLWidget* widget();
    /// Runs `action` with no OpenGL context current on this thread, then
    /// makes the context current again.
    static void runWithoutContext(const std::function<void()>& action);
};

/// Fixture for tests that call OpenGL: each test starts with the shared
/// context current and no error pending, and fails when it leaves an OpenGL
/// error behind.
class GlTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

/// An off-screen framebuffer of RGBA8 colour and 24-bit depth to draw into and
/// read back from. Binds itself and sets the viewport to its size on
/// construction; restores the previous framebuffer and viewport when
/// destroyed. Needs a current context (see GlTest).
class GlRenderTarget {
public:
    GlRenderTarget(int width, int height);
    ~GlRenderTarget();
    GlRenderTarget(const GlRenderTarget&) = delete;
    GlRenderTarget& operator=(const GlRenderTarget&) = delete;

    int width() const { return m_width; }
    int height() const { return m_height; }
    unsigned framebuffer() const { return m_framebuffer; }

    /// Colour of the pixel at (x, y), origin bottom left.
    std::array<unsigned char, 4> rgba(int x, int y) const;
    /// Depth (0 near ... 1 far) of the pixel at (x, y), origin bottom left.
    float depth(int x, int y) const;
    /// Every pixel as RGBA bytes, rows from the bottom up.
    std::vector<unsigned char> readRgba() const;
    /// Writes the colour buffer, top row first, as a PNG file at
    /// screenshotPath(`name`); false when it cannot be written.
    bool saveScreenshot(const std::string& name) const;

private:
    int m_width;
    int m_height;
    unsigned m_framebuffer = 0;
    unsigned m_colour = 0;
    unsigned m_depth = 0;
    int m_previousFramebuffer = 0;
    std::array<int, 4> m_previousViewport{};
};

}  // namespace Veltrane
