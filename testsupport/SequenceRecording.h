#pragma once

#include "testsupport/SyntheticCamera.h"

#include <string>
#include <vector>

namespace Veltrane {

class ImageRecorder;

namespace TestSupport {

/// Queues `frame` on a running `recorder`, waiting while the recorder refuses
/// it (its queue is full). False when it is still refused after seconds.
bool queueFrame(ImageRecorder& recorder, const RgbdFrame& frame);

/// Records `frames` into a new sequence file at `path` with the camera
/// matrix of `camera`, through the recorder that the application records
/// with. False when the file cannot be made or a frame cannot be written.
bool recordSequence(const std::string& path, const std::vector<RgbdFrame>& frames,
                    const PinholeCamera& camera);

}  // namespace TestSupport
}  // namespace Veltrane
