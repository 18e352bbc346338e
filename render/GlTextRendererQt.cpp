#include "render/GlTextRendererQt.h"

#include "core/GlImage.h"
#include "core/GlObjectRelease.h"
#include "core/Logging.h"
#include "render/GlStateScopes.h"
#include "render/GlTextureParameters.h"
#include "render/GlViewState.h"

#include <GL/glew.h>

#include <stdexcept>

namespace Veltrane {

bool TextFont::operator==(const TextFont& other) const
{
    return name == other.name && size == other.size && bold == other.bold &&
           italic == other.italic && underline == other.underline;
}

GlTextRenderer& GlTextRenderer::instance()
{
    // Destroyed at exit; its texture then goes through the deferred release,
    // which deletes nothing without its context current.
    static GlTextRendererQt renderer;
    return renderer;
}

std::array<int, 2> alignedTextOrigin(int x, int y, int width, int ascent, int descent, int hAlign,
                                     int vAlign)
{
    int left = x;
    if (hAlign == 1)
        left = x - static_cast<int>(width * 0.5);
    else if (hAlign == 2)
        left = x - width;
    int baseline = y + descent;
    if (vAlign == 0)
        baseline = y + descent - ascent;
    else if (vAlign == 1)
        baseline = static_cast<int>(y + descent - ascent * 0.5);
    else if (vAlign == 2)
        baseline = y;
    return {left, baseline};
}

GlTextRendererQt::GlTextRendererQt() = default;
GlTextRendererQt::~GlTextRendererQt() = default;

void GlTextRendererQt::drawText(double x, double y, double z, const char* text,
                                const TextFont& font, int hAlign, int vAlign, bool clip)
{
    const GlViewState view(true);
    const double point[3] = {x, y, z};
    double window[3];
    if (!view.project(point, window))
        return;
    if (clip && (window[2] < 0.0 || window[2] > 1.0))
        return;
    drawText(static_cast<int>(window[0]), static_cast<int>(window[1]), text, font, hAlign, vAlign);
}

void GlTextRendererQt::drawText(int x, int y, const char* text, const TextFont& font, int hAlign,
                                int vAlign)
{
    if (!text || !*text || !useFont(font))
        return;
    const auto [left, baseline] =
        alignedTextOrigin(x, y, m_glyphs->textWidth(text), m_glyphs->ascent(),
                          m_glyphs->descent(), hAlign, vAlign);
    drawGlyphs(left, baseline, text);
}

bool GlTextRendererQt::useFont(const TextFont& font)
{
    const QPointer<QObject> owner = currentGlOwner(GlObjectType::Texture);
    if (m_glyphs && m_texture && font == m_glyphs->font() && owner == m_textureOwner)
        return true;
    try {
        auto glyphs = std::make_unique<GlyphAtlas>(font);
        const QImage image = glyphs->render();
        auto texture = std::make_unique<GlImage>(PixelType::UnsignedByte, image.width(),
                                                 image.height(), 1, 4, 0, image.constBits());
        texture->bind(0);
        setTextureParameters(texture->target(), GL_NEAREST, GL_CLAMP_TO_EDGE);
        texture->unbind();
        m_glyphs = std::move(glyphs);
        m_texture = std::move(texture);
        m_textureOwner = owner;
        return true;
    } catch (const std::exception& error) {
        VELTRANE_ERROR("Text: the glyphs of font " << font.name << " cannot be built ("
                                                   << error.what() << ")");
        return false;
    }
}

void GlTextRendererQt::drawGlyphs(int x, int y, const char* text) const
{
    const GlTargetScope target;
    const GlAttributeScope attributes(GL_ALL_ATTRIB_BITS, 0);
    glUseProgram(0);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    m_texture->bind(0);
    glDisable(GL_TEXTURE_1D);
    glDisable(GL_TEXTURE_3D);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(viewport[0], viewport[0] + viewport[2], viewport[1], viewport[1] + viewport[3], -1.0,
            1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    const GlyphAtlas& glyphs = *m_glyphs;
    const double textureWidth = m_texture->width;
    const double textureHeight = m_texture->height;
    const int bottom = y + glyphs.cellAbove() - glyphs.cellHeight();
    const int top = y + glyphs.cellAbove();
    glBegin(GL_QUADS);
    for (const char* c = text; *c; ++c) {
        const auto code = static_cast<unsigned char>(*c);
        const auto [cellX, cellY] = glyphs.cellOrigin(code);
        const double s0 = cellX / textureWidth;
        const double s1 = (cellX + glyphs.cellWidth()) / textureWidth;
        const double tTop = cellY / textureHeight;
        const double tBottom = (cellY + glyphs.cellHeight()) / textureHeight;
        const int left = x + glyphs.cellLeft();
        const int right = left + glyphs.cellWidth();
        glTexCoord2d(s0, tBottom);
        glVertex2i(left, bottom);
        glTexCoord2d(s1, tBottom);
        glVertex2i(right, bottom);
        glTexCoord2d(s1, tTop);
        glVertex2i(right, top);
        glTexCoord2d(s0, tTop);
        glVertex2i(left, top);
        x += glyphs.advance(code);
    }
    glEnd();

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
}

}  // namespace Veltrane
