#pragma once

#include "render/GlTextRenderer.h"
#include "render/GlyphAtlas.h"

#include <QPointer>

#include <memory>

namespace Veltrane {

class GlImage;

/// The text renderer of the process: glyphs rasterised by Qt into one
/// texture per font, drawn as textured quads that map texels one to one onto
/// window pixels. The glyphs are rebuilt only when the requested font
/// changes, or when drawing moves to a context that does not share the
/// texture.
class GlTextRendererQt : public GlTextRenderer {
public:
    GlTextRendererQt();
    ~GlTextRendererQt();

    void drawText(double x, double y, double z, const char* text, const TextFont& font,
                  int hAlign, int vAlign, bool clip) override;
    void drawText(int x, int y, const char* text, const TextFont& font, int hAlign,
                  int vAlign) override;

    /// The glyphs of the last font drawn with; null before the first text.
    const GlyphAtlas* glyphs() const { return m_glyphs.get(); }

private:
    /// Makes `font` the current font, building its glyphs when it is not;
    /// false (logged) when they cannot be built.
    bool useFont(const TextFont& font);
    void drawGlyphs(int x, int y, const char* text) const;

    std::unique_ptr<GlyphAtlas> m_glyphs;
    std::unique_ptr<GlImage> m_texture;
    /// The share group of the texture.
    QPointer<QObject> m_textureOwner;
};

}  // namespace Veltrane
