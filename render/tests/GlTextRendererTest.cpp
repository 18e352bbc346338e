#include "render/GlTextRendererQt.h"

#include "RenderTestSupport.h"
#include "render/GlProgram.h"

#include <GL/glew.h>

#include <QFont>
#include <QGLWidget>

#include <algorithm>
#include <tuple>

namespace Veltrane {
namespace {

using GlTextRendererTest = GlTest;

const TextFont kFont{"Tahoma", 12};

TEST(GlTextRenderer, AlignmentMovesTheBaselineStart)
{
    struct Case {
        int width, hAlign, vAlign;
        std::array<int, 2> origin;
    };
    // At (100, 50) with ascent 12 and descent 3.
    const Case cases[] = {
        {40, 0, 2, {100, 50}}, {40, 1, 2, {80, 50}},  {41, 1, 2, {80, 50}},
        {40, 2, 2, {60, 50}},  {40, 5, 2, {100, 50}}, {40, 0, 0, {100, 41}},
        {40, 0, 1, {100, 47}}, {40, 0, 3, {100, 53}}, {40, 0, -4, {100, 53}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(alignedTextOrigin(100, 50, c.width, 12, 3, c.hAlign, c.vAlign), c.origin)
            << "width " << c.width << " align " << c.hAlign << ", " << c.vAlign;
    EXPECT_EQ(alignedTextOrigin(100, 50, 10, 13, 3, 0, 1)[1], 46) << "53 - 6.5 truncated";
}

TEST_F(GlTextRendererTest, NegativeSizeIsTwelvePixelsAndMissingFacesAreSubstituted)
{
    EXPECT_EQ(toQFont({"Tahoma", -1}).pixelSize(), 15);
    EXPECT_EQ(toQFont({"Tahoma", 12}).pixelSize(), 15);
    EXPECT_EQ(toQFont({"Tahoma", 8}).pixelSize(), 11);
    const GlyphAtlas substituted({"No Such Face Anywhere", 12});
    EXPECT_GT(substituted.advance('H'), 0);
    EXPECT_GT(substituted.ascent(), 0);
}

/// The columns and rows that hold lit pixels (red above 127) of a picture.
struct Ink {
    int left = 1 << 20;
    int right = -1;
    int bottom = 1 << 20;
    int top = -1;
    bool any() const { return right >= 0; }
};

Ink inkOf(const GlRenderTarget& target)
{
    const Picture picture(target);
    Ink ink;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            if (picture.at(x, y)[0] > 127) {
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
                ink.bottom = std::min(ink.bottom, y);
                ink.top = std::max(ink.top, y);
            }
        }
    }
    return ink;
}

/// Clears `target` to black and sets white as the current colour.
void clearToBlack(const GlRenderTarget& target)
{
    glViewport(0, 0, target.width(), target.height());
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glColor3d(1, 1, 1);
}

TEST_F(GlTextRendererTest, TextStartsAtTheLeftPointAndEndsAtTheRightPoint)
{
    GlTextRenderer& renderer = GlTextRenderer::instance();
    GlRenderTarget target(240, 60);
    struct Case {
        int x, hAlign;
    };
    for (const Case& c : {Case{20, 0}, Case{200, 2}, Case{120, 1}}) {
        SCOPED_TRACE("hAlign " + std::to_string(c.hAlign));
        clearToBlack(target);
        renderer.drawText(c.x, 30, "HHHH", kFont, c.hAlign, 2);
        const Ink ink = inkOf(target);
        ASSERT_TRUE(ink.any());
        const int width = static_cast<GlTextRendererQt&>(renderer).glyphs()->textWidth("HHHH");
        EXPECT_EQ(ink.bottom, 30) << "H stands on the baseline";
        EXPECT_GE(ink.right - ink.left + 1, width - 6);
        EXPECT_LE(ink.right - ink.left + 1, width);
        if (c.hAlign == 0) {
            EXPECT_GE(ink.left, 20);
            EXPECT_LE(ink.left, 23);
        } else if (c.hAlign == 2) {
            EXPECT_LE(ink.right, 199);
            EXPECT_GE(ink.right, 196);
        } else {
            EXPECT_NEAR((ink.left + ink.right + 1) * 0.5, 120.0, 2.0);
        }
    }
}

TEST_F(GlTextRendererTest, GlyphsAreBuiltOncePerFont)
{
    auto& renderer = static_cast<GlTextRendererQt&>(GlTextRenderer::instance());
    GlRenderTarget target(100, 40);
    clearToBlack(target);
    renderer.drawText(5, 20, "a", kFont, 0, 2);
    const GlyphAtlas* first = renderer.glyphs();
    renderer.drawText(5, 20, "b", TextFont{"Tahoma", 12}, 0, 2);
    EXPECT_EQ(renderer.glyphs(), first) << "same font";
    renderer.drawText(5, 20, "c", TextFont{"Tahoma", 12, true}, 0, 2);
    EXPECT_NE(renderer.glyphs(), first) << "bold";
    EXPECT_TRUE(renderer.glyphs()->font().bold);
}

TEST_F(GlTextRendererTest, EmptyTextDrawsNothing)
{
    GlRenderTarget target(60, 30);
    clearToBlack(target);
    GlTextRenderer::instance().drawText(10, 10, "", kFont, 0, 2);
    GlTextRenderer::instance().drawText(10, 10, nullptr, kFont, 0, 2);
    EXPECT_FALSE(inkOf(target).any());
}

TEST_F(GlTextRendererTest, TextAtAPointGoesWhereThePointProjects)
{
    GlRenderTarget target(100, 100);
    clearToBlack(target);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-10, 10, -10, 10, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    // (2.05, -3.95) projects to window (60.25, 30.25), truncated.
    GlTextRenderer::instance().drawText(2.05, -3.95, 0.0, "H", kFont, 0, 2, true);
    const Ink ink = inkOf(target);
    ASSERT_TRUE(ink.any());
    EXPECT_EQ(ink.bottom, 30);
    EXPECT_GE(ink.left, 60);
    EXPECT_LE(ink.left, 62);

    clearToBlack(target);
    GlTextRenderer::instance().drawText(2.05, -3.95, 20.0, "H", kFont, 0, 2, true);
    EXPECT_FALSE(inkOf(target).any()) << "clipped: beyond the depth range";
    GlTextRenderer::instance().drawText(2.05, -3.95, 20.0, "H", kFont, 0, 2, false);
    EXPECT_TRUE(inkOf(target).any()) << "not clipped";
}

TEST_F(GlTextRendererTest, DrawingLeavesTheOpenGlStateAlone)
{
    GlRenderTarget target(80, 40);
    clearToBlack(target);
    GlProgram program("TexelFetch", nullptr);
    program.bind();
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-3, 3, -3, 3, -3, 3);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslated(1, 2, 3);
    glColor3d(0.5, 0.25, 1.0);

    GlTextRenderer::instance().drawText(5, 10, "state", kFont, 0, 2);

    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(static_cast<unsigned>(current), program.program());
    program.unbind();
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    double modelview[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    EXPECT_EQ(modelview[12], 1.0);
    float colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[1], 0.25f);
    glDisable(GL_DEPTH_TEST);
}

TEST_F(GlTextRendererTest, DrawsInAContextThatDoesNotShareTheFirstOnesGlyphs)
{
    const auto drawH = [] {
        GlRenderTarget target(60, 30);
        clearToBlack(target);
        GlTextRenderer::instance().drawText(5, 10, "H", kFont, 0, 2);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        return inkOf(target);
    };
    const Ink first = drawH();
    ASSERT_TRUE(first.any());
    QGLWidget other;
    other.makeCurrent();
    const Ink second = drawH();
    GlTestContext::makeCurrent(nullptr);
    // Without its glyphs the other context would show the glyph's whole cell.
    EXPECT_EQ(std::tie(second.left, second.right, second.bottom, second.top),
              std::tie(first.left, first.right, first.bottom, first.top));
}

TEST_F(GlTextRendererTest, AlignmentScreenshot)
{
    GlRenderTarget target(320, 160);
    clearToBlack(target);
    // Grey guides through the anchor points.
    glColor3d(0.35, 0.35, 0.35);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 320, 0, 160, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glBegin(GL_LINES);
    for (double x : {20.5, 160.5, 300.5}) {
        glVertex2d(x, 0);
        glVertex2d(x, 160);
    }
    for (double y : {30.5, 80.5, 130.5}) {
        glVertex2d(0, y);
        glVertex2d(320, y);
    }
    glEnd();
    GlTextRenderer& renderer = GlTextRenderer::instance();
    glColor3d(0.0, 0.69, 0.86);
    renderer.drawText(20, 130, "left, baseline", kFont, 0, 2);
    renderer.drawText(160, 130, "centre", kFont, 1, 2);
    renderer.drawText(300, 130, "right", kFont, 2, 2);
    glColor3d(1.0, 0.8, 0.2);
    renderer.drawText(20, 80, "bottom gyp", TextFont{"Tahoma", 14, true}, 0, 3);
    renderer.drawText(300, 80, "Tahoma 8 X=12 I=0.5", TextFont{"Tahoma", 8}, 2, 2);
    glColor3d(0.6, 1.0, 0.6);
    renderer.drawText(20, 30, "italic underlined", TextFont{"Tahoma", 12, false, true, true}, 0, 2);
    renderer.drawText(300, 30, "\xC4\xD6\xDC \xE4\xF6\xFC \xDF", kFont, 2, 2);
    target.saveScreenshot("text-alignment");
}

}  // namespace
}  // namespace Veltrane
