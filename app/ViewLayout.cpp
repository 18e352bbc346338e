#include "app/ViewLayout.h"

namespace Veltrane {

namespace {

/// Pixels between the left column and the right part, and between its rows.
constexpr int viewGap = 2;

}  // namespace

ViewRects initialViewRects()
{
    ViewRects rects;
    rects.color = {0.0, 0.5, 0.33, 0.5};
    rects.depth = {0.0, 0.0, 0.33, 0.5};
    rects.right = {0.33, 0.0, 0.67, 1.0};
    rects.mesh = {0.0, 0.0, 1.0, 1.0};
    return rects;
}

ViewRects viewRects(int width, int height)
{
    if (width <= 0 || height <= 0)
        return initialViewRects();
    const double w = width;
    const double h = height;
    const int column = static_cast<int>(0.33 * w + 0.5);
    const int lowerRow = static_cast<int>(0.5 * h + 0.5);

    ViewRects rects;
    rects.color = {0.0, (lowerRow + viewGap) / h, column / w, (h - lowerRow - viewGap) / h};
    rects.depth = {0.0, 0.0, column / w, lowerRow / h};
    rects.right = {(column + viewGap) / w, 0.0, (w - column - viewGap) / w, 1.0};
    rects.mesh = {0.0, 0.0, 1.0, 1.0};
    return rects;
}

ViewVisibility viewVisibility(int uiMode)
{
    ViewVisibility shown;
    switch (uiMode) {
    case 1:
        shown.color = shown.depth = shown.pointCloud = true;
        break;
    case 2:
        shown.color = shown.depth = shown.scene = true;
        break;
    case 3:
        shown.mesh = true;
        break;
    default:
        break;
    }
    return shown;
}

}  // namespace Veltrane
