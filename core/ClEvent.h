#pragma once

#include "core/ClHandle.h"

#include <vector>

namespace Veltrane {

/// Completion event of an enqueued OpenCL command; may hold no handle when
/// the command could not be enqueued.
class ClEvent {
public:
    explicit ClEvent(cl_event id) : m_handle(id) {}

    cl_event id() const { return m_handle.get(); }

private:
    ClHandle<cl_event, clReleaseEvent> m_handle;
};

/// Events an enqueued command waits for; not owned.
using ClEventList = std::vector<ClEvent*>;

/// The handles of `waitList` in the form enqueue calls take them.
std::vector<cl_event> clEventHandles(const ClEventList* waitList);

}  // namespace Veltrane
