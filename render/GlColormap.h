#pragma once

#include "core/GlImage.h"

#include <vector>

namespace Veltrane {

/// A colour map for the slice shader: a 1-D texture of `size` (at least 1)
/// RGB float entries computed from a formula.
class GlColormap : public GlImage {
public:
    /// Type 0 (and any unknown type): a grey ramp; type 1: the jet colour
    /// map, dark blue through cyan, yellow and red to dark red. Needs the
    /// OpenGL context current; throws std::runtime_error when the texture
    /// cannot be made.
    GlColormap(int type, int size);
};

/// The `size` entries of colour map `type` as RGB triples: entry i is the
/// colour at t = i / size.
std::vector<float> colormapValues(int type, int size);

}  // namespace Veltrane
