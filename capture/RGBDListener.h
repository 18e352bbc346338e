#pragma once

#include "core/TypedImage.h"

namespace Veltrane {

/// Receiver of RGB-D frames from a live sensor or a sequence player.
///
/// Called on the producer's thread, one frame at a time. The producer reuses
/// both images for its next frame: a listener must finish with them, or copy
/// them, before it returns.
class RGBDListener {
public:
    /// `colour`: three-channel 8-bit RGB of the depth frame's size, or null
    /// without a colour stream; `depth`: one-channel raw depth in millimetres,
    /// never null; `pose`: a 4x4 column-major camera pose, or null.
    virtual void onNewFrame(const TypedImage<unsigned char>* colour,
                            const TypedImage<unsigned short>* depth, const double* pose) = 0;

protected:
    ~RGBDListener() = default;
};

}  // namespace Veltrane
