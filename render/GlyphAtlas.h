#pragma once

#include "render/GlTextRenderer.h"

#include <QImage>

#include <array>

class QFont;

namespace Veltrane {

/// The Qt font that draws `font`: pixel size `size` + 3 (15 for a negative
/// size), sans-serif when the face is not installed.
QFont toQFont(const TextFont& font);

/// The glyphs of the character codes 0 ... 255 (Latin-1) of one font, laid
/// out in a grid of 16 x 16 equal cells, with the font's metrics. Each cell
/// holds its glyph with the pen on the baseline `cellAbove()` pixels below
/// the cell's top and `-cellLeft()` pixels right of its left edge; the cell
/// is large enough for every glyph of the font. Needs a QGuiApplication.
class GlyphAtlas {
public:
    explicit GlyphAtlas(const TextFont& font);

    /// White glyphs whose alpha is their coverage, top row first.
    QImage render() const;
    const TextFont& font() const { return m_font; }

    /// How far the pen moves after `code`.
    int advance(unsigned char code) const { return m_advances[code]; }
    /// The sum of the advances of the bytes of `text`.
    int textWidth(const char* text) const;
    int ascent() const { return m_ascent; }
    int descent() const { return m_descent; }

    int cellWidth() const { return m_cellWidth; }
    int cellHeight() const { return m_cellHeight; }
    /// Left edge of a cell relative to the pen (at most 0).
    int cellLeft() const { return m_cellLeft; }
    /// Pixels of a cell above the baseline.
    int cellAbove() const { return m_cellAbove; }
    /// Top-left pixel of the cell of `code` in the rendered image.
    std::array<int, 2> cellOrigin(unsigned char code) const;

private:
    TextFont m_font;
    std::array<int, 256> m_advances{};
    int m_ascent = 0;
    int m_descent = 0;
    int m_cellWidth = 0;
    int m_cellHeight = 0;
    int m_cellLeft = 0;
    int m_cellAbove = 0;
};

}  // namespace Veltrane
