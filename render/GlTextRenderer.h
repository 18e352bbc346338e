#pragma once

#include <array>
#include <string>

namespace Veltrane {

/// A font request: face name (a missing face is substituted by a similar
/// installed one), character height in pixels without the 3 pixels below
/// (negative means 12), and styles.
struct TextFont {
    std::string name;
    int size = -1;
    bool bold = false;
    bool italic = false;
    bool underline = false;

    bool operator==(const TextFont& other) const;
    bool operator!=(const TextFont& other) const { return !(*this == other); }
};

/// Writes short texts into the OpenGL picture in the current colour, one
/// byte per character (Latin-1), at window positions in pixels.
///
/// Alignment: `hAlign` 0 starts the text at x, 1 centres it on x, 2 ends it
/// at x. `vAlign` puts the baseline at y + descent - ascent (0),
/// y + descent - ascent / 2 (1), y (2), or y + descent (any other value,
/// the text's lowest row at y).
///
/// One instance serves the process; use it with the OpenGL context current.
/// Drawing leaves the OpenGL state as it found it.
class GlTextRenderer {
public:
    /// The process's renderer, created on first use.
    static GlTextRenderer& instance();

    /// At the window position that the current viewport and matrices
    /// project the point (x, y, z) to; with `clip`, nothing when its depth
    /// lies outside the depth range.
    virtual void drawText(double x, double y, double z, const char* text, const TextFont& font,
                          int hAlign, int vAlign, bool clip) = 0;
    /// At window position (x, y), origin at the bottom left of the window.
    virtual void drawText(int x, int y, const char* text, const TextFont& font, int hAlign,
                          int vAlign) = 0;

protected:
    GlTextRenderer() = default;
    ~GlTextRenderer() = default;
};

/// The position of the baseline's start of a text `width` pixels wide,
/// aligned at (x, y) as GlTextRenderer describes.
std::array<int, 2> alignedTextOrigin(int x, int y, int width, int ascent, int descent, int hAlign,
                                     int vAlign);

}  // namespace Veltrane
