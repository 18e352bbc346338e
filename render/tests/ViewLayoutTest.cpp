#include "render/ViewLayout.h"

#include <gtest/gtest.h>

#include <vector>

namespace Veltrane {
namespace {

/// A rectangle by its inclusive corners, lower left first.
QRect corners(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

/// Views per line, counted from the left edge (rows) or top edge (columns).
std::vector<int> lineLengths(const std::vector<QRect>& cells, bool rows)
{
    std::vector<int> lengths;
    int previous = -1;
    for (const QRect& cell : cells) {
        const int line = rows ? cell.bottom() : cell.left();
        if (lengths.empty() || line != previous)
            lengths.push_back(0);
        ++lengths.back();
        previous = line;
    }
    return lengths;
}

TEST(ViewLayoutTest, GridSplitsViewsIntoEvenLines)
{
    const struct {
        int count;
        std::vector<int> lines;
    } cases[] = {
        {1, {1}},       {2, {2}},       {3, {2, 1}},    {4, {2, 2}},    {5, {3, 2}},
        {6, {3, 3}},    {7, {3, 2, 2}}, {8, {3, 3, 2}}, {9, {3, 3, 3}}, {10, {4, 3, 3}},
        {13, {4, 4, 3, 2}},
    };
    for (const auto& c : cases) {
        for (const int mode : {ViewLayoutMode::Rows, ViewLayoutMode::Columns}) {
            SCOPED_TRACE(testing::Message() << c.count << " views, mode " << mode);
            const std::vector<QRect> cells = gridLayout(c.count, 640, 480, mode);
            ASSERT_EQ(static_cast<int>(cells.size()), c.count);
            EXPECT_EQ(lineLengths(cells, mode == ViewLayoutMode::Rows), c.lines);
        }
    }
}

TEST(ViewLayoutTest, CellsKeepAPixelFromTheEdgesAndTwoFromEachOther)
{
    const struct {
        const char* name;
        int count, width, height, mode;
        std::vector<QRect> cells;
    } cases[] = {
        {"one view", 1, 200, 100, ViewLayoutMode::Rows, {corners(1, 1, 198, 98)}},
        // A row of three in 100 pixels: cells of 33, 33 and 34.
        {"three in 100 px",
         5,
         100,
         60,
         ViewLayoutMode::Rows,
         {corners(1, 31, 31, 58), corners(34, 31, 64, 58), corners(67, 31, 98, 58),
          corners(1, 1, 48, 28), corners(51, 1, 98, 28)}},
        // Columns from the left, each filled from the top.
        {"columns",
         3,
         100,
         100,
         ViewLayoutMode::Columns,
         {corners(1, 51, 48, 98), corners(1, 1, 48, 48), corners(51, 1, 98, 98)}},
        // 7 views as 3, 2 and 2 rows in a 300 x 300 widget.
        {"seven",
         7,
         300,
         300,
         ViewLayoutMode::Rows,
         {corners(1, 201, 98, 298), corners(101, 201, 198, 298), corners(201, 201, 298, 298),
          corners(1, 101, 148, 198), corners(151, 101, 298, 198), corners(1, 1, 148, 98),
          corners(151, 1, 298, 98)}},
        // Too small for a gap: the cell collapses onto its first pixel.
        {"one pixel wide", 1, 1, 10, ViewLayoutMode::Rows, {corners(1, 1, 0, 8)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(gridLayout(c.count, c.width, c.height, c.mode), c.cells);
    }
}

TEST(ViewLayoutTest, NoViewsOrAnUnknownModeGiveNoCells)
{
    EXPECT_TRUE(gridLayout(0, 100, 100, ViewLayoutMode::Rows).empty());
    EXPECT_TRUE(gridLayout(3, 100, 100, ViewLayoutMode::Stacked).empty());
    EXPECT_TRUE(gridLayout(3, 100, 100, 7).empty());
}

TEST(ViewLayoutTest, RelativePlacesRoundToPixelsAndBack)
{
    // Two views side by side in a 1000 x 600 widget.
    EXPECT_EQ(relativeToPixels(QRectF(0.0, 0.5, 0.33, 0.5), 1000, 600), corners(0, 300, 329, 599));
    EXPECT_EQ(relativeToPixels(QRectF(0.33, 0.0, 0.67, 1.0), 1000, 600),
              corners(330, 0, 999, 599));
    const QRect rect = corners(330, 0, 999, 599);
    EXPECT_EQ(relativeToPixels(pixelsToRelative(rect, 1000, 600), 1000, 600), rect);
    EXPECT_EQ(pixelsToRelative(corners(250, 150, 749, 449), 1000, 600),
              QRectF(0.25, 0.25, 0.5, 0.5));
}

}  // namespace
}  // namespace Veltrane
