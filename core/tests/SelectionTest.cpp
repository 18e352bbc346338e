#include "core/Selection.h"

#include <gtest/gtest.h>

namespace Veltrane {
namespace {

TEST(Selection, SizeCountsEveryStepFromFirstToLast)
{
    struct Case {
        Selection selection;
        int size;
    };
    const Case cases[] = {
        {Selection(), 0},
        {Selection(2, 10, 3), 3},  // 2, 6, 10
        {Selection(2, 11, 3), 3},
        {Selection(4, 4), 1},
        {Selection(0, 9, -1), 10},  // a negative skip skips nothing
        {Selection(0, 9, -4), 10},
        {Selection(5, 3), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.selection.size(), c.size)
            << c.selection.first << ".." << c.selection.last << " skip " << c.selection.skip;
}

TEST(Selection, ClampFitsTheSelectionToTheList)
{
    struct Case {
        Selection before;
        int count;
        Selection after;
    };
    const Case cases[] = {
        {Selection(2, 10, 3, 7), 5, Selection(2, 4, 3, 4)},
        {Selection(2, 10, 3, 7), 0, Selection(-1, -2, 3, 0)},
        {Selection(0, 3, -1, -2), 8, Selection(0, 3, 0, 0)},
        {Selection(6, 9, 0, 1), 4, Selection(3, 3, 0, 1)},
        {Selection(1, 2, -3, 1), -1, Selection(-1, -2, 0, 0)},
    };
    for (const Case& c : cases) {
        Selection selection = c.before;
        selection.clamp(c.count);
        EXPECT_EQ(selection, c.after) << "count " << c.count << ": " << selection.first << ".."
                                      << selection.last << " skip " << selection.skip
                                      << " focus " << selection.focus;
    }
}

TEST(Selection, ConfigurationWritesOnlyWhatIsSet)
{
    Properties empty;
    Selection().configuration(&empty);
    int value = 0;
    for (const char* name : {"first", "last", "skip", "focus"})
        EXPECT_FALSE(empty.param(name, value)) << name;

    Properties written;
    Selection(1, 7, 2, 3).configuration(&written);
    Selection read;
    read.configure(&written);
    EXPECT_EQ(read, Selection(1, 7, 2, 3));

    Properties focusOnly;
    focusOnly.setParam("focus", 4);
    Selection selection(1, 7, 2, 0);
    selection.configure(&focusOnly);
    EXPECT_EQ(selection, Selection(1, 7, 2, 4));

    selection.configure(nullptr);
    selection.configuration(nullptr);
    EXPECT_EQ(selection, Selection(1, 7, 2, 4));
}

TEST(Properties, ParamReadsOnlyStoredIntegers)
{
    Properties properties;
    properties.setParam("count", 12);
    properties.setParam("count", -3);
    int value = 99;
    EXPECT_TRUE(properties.param("count", value));
    EXPECT_EQ(value, -3);
    EXPECT_FALSE(properties.param("missing", value));
    EXPECT_EQ(value, -3);
}

}  // namespace
}  // namespace Veltrane
