#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// Joins directed iso-line segments into loops by their end keys. `Segment`
/// has members `from` and `to`, each with a `key`. Consumes `segments`; every
/// loop lists segments so that one's to-key is the next one's from-key, with
/// segments turned round where needed. A chain whose ends never meet stays an
/// open loop.
template <class Segment>
void chainIsoEdges(std::vector<Segment>& segments, std::vector<std::vector<Segment>>& loops)
{
    loops.clear();
    auto takeAt = [&segments](std::size_t index) {
        Segment taken = segments[index];
        segments[index] = segments.back();
        segments.pop_back();
        return taken;
    };
    auto reversed = [](Segment segment) {
        std::swap(segment.from, segment.to);
        return segment;
    };
    while (!segments.empty()) {
        const Segment start = takeAt(0);
        auto head = start.from.key;
        auto tail = start.to.key;
        std::vector<Segment> forward;
        std::vector<Segment> backward;
        std::size_t scan = segments.size();
        while (scan > 0) {
            const std::size_t index = scan - 1;
            const Segment& candidate = segments[index];
            bool matched = true;
            if (candidate.from.key == tail) {
                forward.push_back(candidate);
            } else if (candidate.to.key == tail) {
                forward.push_back(reversed(candidate));
            } else if (candidate.to.key == head) {
                backward.push_back(candidate);
            } else if (candidate.from.key == head) {
                backward.push_back(reversed(candidate));
            } else {
                matched = false;
            }
            if (matched) {
                if (!forward.empty())
                    tail = forward.back().to.key;
                if (!backward.empty())
                    head = backward.back().from.key;
                takeAt(index);
                scan = segments.size();
            } else {
                scan = index;
            }
        }
        std::vector<Segment> loop(backward.rbegin(), backward.rend());
        loop.push_back(start);
        loop.insert(loop.end(), forward.begin(), forward.end());
        loops.push_back(std::move(loop));
    }
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
