#include "core/ClEvent.h"

namespace Veltrane {

std::vector<cl_event> clEventHandles(const ClEventList* waitList)
{
    std::vector<cl_event> handles;
    if (waitList) {
        for (const ClEvent* event : *waitList)
            handles.push_back(event ? event->id() : nullptr);
    }
    return handles;
}

}  // namespace Veltrane
