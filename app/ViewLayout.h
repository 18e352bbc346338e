#pragma once

namespace Veltrane {

/// A view's place in the display widget as fractions of the widget's width
/// and height, y measured upwards from the bottom edge.
struct RelativeRect {
    double x = 0.0;
    double y = 0.0;
    double width = 1.0;
    double height = 1.0;
};

/// The places of the main window's views. The point-cloud view (capture) and
/// the scene view (reconstruction) share the right part.
struct ViewRects {
    RelativeRect color;
    RelativeRect depth;
    RelativeRect right;
    RelativeRect mesh;
};

/// The places before the display widget has a size: a left column of a
/// third of the width (colour above depth) and the right part.
ViewRects initialViewRects();

/// The places for a display widget of `width` x `height` pixels: the left
/// column is 0.33 of the width and its lower row half the height, both
/// rounded to whole pixels, with 2-pixel gaps between the column and the
/// right part and between the two rows. The mesh view fills the widget. A
/// widget without an area keeps the initial places.
ViewRects viewRects(int width, int height);

/// Which views a user-interface mode shows (1 capture, 2 reconstruction,
/// 3 mesh); any other mode shows none.
struct ViewVisibility {
    bool color = false;
    bool depth = false;
    bool pointCloud = false;
    bool scene = false;
    bool mesh = false;
};

ViewVisibility viewVisibility(int uiMode);

}  // namespace Veltrane
