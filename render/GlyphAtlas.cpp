#include "render/GlyphAtlas.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace Veltrane {
namespace {

constexpr int kGridSize = 16;

bool hasGlyph(int code)
{
    return QChar(code).isPrint();
}

}  // namespace

QFont toQFont(const TextFont& font)
{
    QFont result(QString::fromStdString(font.name));
    result.setStyleHint(QFont::SansSerif);
    result.setPixelSize((font.size < 0 ? 12 : font.size) + 3);
    result.setBold(font.bold);
    result.setItalic(font.italic);
    result.setUnderline(font.underline);
    return result;
}

GlyphAtlas::GlyphAtlas(const TextFont& font) : m_font(font)
{
    const QFontMetrics metrics(toQFont(font));
    m_ascent = metrics.ascent();
    m_descent = metrics.descent();
    // The box every glyph fits in, relative to the pen on the baseline (y
    // down), with a pixel to spare around it for the antialiased edges.
    int left = 0;
    int right = 0;
    int top = -m_ascent;
    int bottom = m_descent;
    if (font.underline)
        bottom = std::max(bottom, metrics.underlinePos() + metrics.lineWidth());
    for (int code = 0; code < 256; ++code) {
        m_advances[static_cast<std::size_t>(code)] = metrics.horizontalAdvance(QChar(code));
        if (!hasGlyph(code))
            continue;
        const QRect box = metrics.boundingRect(QChar(code));
        left = std::min(left, box.left());
        right = std::max({right, box.right() + 1, m_advances[static_cast<std::size_t>(code)]});
        top = std::min(top, box.top());
        bottom = std::max(bottom, box.bottom() + 1);
    }
    m_cellLeft = left - 1;
    m_cellAbove = 1 - top;
    m_cellWidth = right + 1 - m_cellLeft;
    m_cellHeight = bottom + 1 + m_cellAbove;
}

QImage GlyphAtlas::render() const
{
    QImage image(kGridSize * m_cellWidth, kGridSize * m_cellHeight,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setFont(toQFont(m_font));
    painter.setPen(Qt::white);
    for (int code = 0; code < 256; ++code) {
        if (!hasGlyph(code))
            continue;
        const auto [x, y] = cellOrigin(static_cast<unsigned char>(code));
        painter.drawText(QPoint(x - m_cellLeft, y + m_cellAbove), QString(QChar(code)));
    }
    painter.end();
    return image.convertToFormat(QImage::Format_RGBA8888);
}

int GlyphAtlas::textWidth(const char* text) const
{
    int width = 0;
    for (const char* c = text; *c; ++c)
        width += advance(static_cast<unsigned char>(*c));
    return width;
}

std::array<int, 2> GlyphAtlas::cellOrigin(unsigned char code) const
{
    return {code % kGridSize * m_cellWidth, code / kGridSize * m_cellHeight};
}

}  // namespace Veltrane
