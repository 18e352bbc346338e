#include "core/Selection.h"

#include <algorithm>

namespace Veltrane {

Selection::Selection(int first, int last, int skip, int focus)
    : first(first), last(last), skip(skip), focus(focus)
{
}

int Selection::size() const
{
    if (last < first)
        return 0;
    return (last - first) / (std::max(skip, 0) + 1) + 1;
}

void Selection::clamp(int count)
{
    if (count <= 0) {
        first = -1;
        last = -2;
        focus = 0;
    } else {
        first = std::min(first, count - 1);
        last = std::min(last, count - 1);
        focus = std::clamp(focus, 0, count - 1);
    }
    skip = std::max(skip, 0);
}

void Selection::configure(const Properties* properties)
{
    if (!properties)
        return;
    properties->param("first", first);
    properties->param("last", last);
    properties->param("skip", skip);
    properties->param("focus", focus);
}

void Selection::configuration(Properties* properties) const
{
    if (!properties)
        return;
    if (size() != 0) {
        properties->setParam("first", first);
        properties->setParam("last", last);
        properties->setParam("skip", skip);
    }
    if (focus != 0)
        properties->setParam("focus", focus);
}

bool Selection::operator==(const Selection& other) const
{
    return first == other.first && last == other.last && skip == other.skip &&
           focus == other.focus;
}

}  // namespace Veltrane
