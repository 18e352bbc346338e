#include "render/ViewLayout.h"

#include <algorithm>
#include <cmath>

namespace Veltrane {

std::vector<QRect> gridLayout(int count, int width, int height, int mode)
{
    std::vector<QRect> cells;
    if (count <= 0 || (mode != ViewLayoutMode::Rows && mode != ViewLayoutMode::Columns))
        return cells;
    const bool rows = mode == ViewLayoutMode::Rows;
    const int perLine = static_cast<int>(std::ceil(std::sqrt(static_cast<float>(count))));
    const int lines = static_cast<int>(std::ceil(static_cast<float>(count) / perLine));

    int inLine = perLine;
    int remaining = count;
    int acrossLeft = rows ? height : width;  // extent still free across the lines
    int acrossOffset = 0;
    for (int line = 0; line < lines && inLine > 0; ++line) {
        const int thickness = acrossLeft / (lines - line);
        acrossLeft -= thickness;
        int alongLeft = rows ? width : height;
        int alongOffset = 0;
        for (int cell = 0; cell < inLine; ++cell) {
            const int length = alongLeft / (inLine - cell);
            alongLeft -= length;
            // Left edge, width, distance of the top edge from the widget's top, height.
            const int x0 = rows ? alongOffset : acrossOffset;
            const int cw = rows ? length : thickness;
            const int t0 = rows ? acrossOffset : alongOffset;
            const int ch = rows ? thickness : length;
            const int y2 = height - 2 - t0;
            cells.emplace_back(QPoint(x0 + 1, y2 - std::max(ch - 2, 0) + 1),
                               QPoint(x0 + std::max(cw - 2, 0), y2));
            alongOffset += length;
        }
        acrossOffset += thickness;
        remaining -= inLine;
        if (line == lines - 3 && inLine >= remaining - inLine + 2)
            --inLine;
        inLine = std::min(inLine, remaining);
    }
    return cells;
}

QRect relativeToPixels(const QRectF& relative, int width, int height)
{
    const int x1 = static_cast<int>(width * relative.x() + 0.5);
    const int y1 = static_cast<int>(height * relative.y() + 0.5);
    const int x2 = static_cast<int>(width * relative.width() + 0.5) + x1 - 1;
    const int y2 = static_cast<int>(height * relative.height() + 0.5) + y1 - 1;
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

QRectF pixelsToRelative(const QRect& rect, int width, int height)
{
    return QRectF(static_cast<double>(rect.left()) / width, static_cast<double>(rect.top()) / height,
                  static_cast<double>(rect.width()) / width,
                  static_cast<double>(rect.height()) / height);
}

}  // namespace Veltrane
