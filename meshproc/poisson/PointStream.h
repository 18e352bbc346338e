#pragma once

namespace Veltrane {
namespace PoissonReconstruction {

/// A source of oriented points (position and normal) that can be read from
/// the start more than once.
class PointStream {
public:
    virtual ~PointStream() = default;
    /// Starts again at the first point.
    virtual void rewind() = 0;
    /// The next point's position and normal; false when there is none.
    virtual bool readPoint(float position[3], float normal[3]) = 0;
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
