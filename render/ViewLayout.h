#pragma once

#include <QRect>
#include <QRectF>

#include <vector>

namespace Veltrane {

/// How a `DisplayWidget` places its views.
namespace ViewLayoutMode {
constexpr int Stacked = 0;  ///< every view gets the whole widget
constexpr int Rows = 1;     ///< a grid filled row by row, from the top
constexpr int Columns = 2;  ///< a grid filled column by column, from the left
}  // namespace ViewLayoutMode

/// Rectangles below are in OpenGL window coordinates of a widget of
/// `width` x `height` pixels: origin at the bottom-left pixel, y upwards,
/// corners inclusive (QRect's top() is the lower edge).

/// The cells of `count` views in a grid of `mode` Rows or Columns, in order:
/// with a = ceil(sqrt(count)) views per line and ceil(count / a) lines, the
/// last two lines evened out (7 views as 3, 2, 2). Neighbouring views are 2
/// pixels apart and 1 pixel from the widget's edges. Empty for no views or
/// another mode.
std::vector<QRect> gridLayout(int count, int width, int height, int mode);

/// The pixels of a place given as fractions of the widget's size (y from
/// the bottom), each edge rounded to the nearest pixel.
QRect relativeToPixels(const QRectF& relative, int width, int height);

/// The fractions of the widget's size that `rect` covers.
QRectF pixelsToRelative(const QRect& rect, int width, int height);

}  // namespace Veltrane
