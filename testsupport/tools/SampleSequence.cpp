// Writes the sample sequence that lets Korvastel be tried without a camera:
// a camera going half round the synthetic objects on a table, recorded
// through the recorder that the application records with.
//
//   korvastel_sample_sequence <output.kvs>

#include "capture/ImageRecorder.h"
#include "testsupport/SequenceRecording.h"
#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <cstdio>
#include <string>

using namespace Veltrane;
using namespace Veltrane::TestSupport;

namespace {

/// Half a circle in 3 degree steps, one metre from the middle of the table,
/// so that the objects sit inside the volume that the application places one
/// metre in front of the camera. About 100 kB a frame.
Orbit sampleOrbit()
{
    Orbit orbit;
    orbit.radius = 900.0;
    orbit.height = 450.0;
    orbit.stepDegrees = 3.0;
    orbit.frames = 60;
    return orbit;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.kvs>\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const PinholeCamera camera;
    const SyntheticCamera sensor(SyntheticScene::objectsOnTable(), camera);
    ImageRecorder recorder(path);
    if (!recorder.open(camera.width, camera.height, camera.matrix().data())) {
        std::fprintf(stderr, "cannot create %s\n", path.c_str());
        return 1;
    }
    recorder.setRunning(true);
    recorder.start();
    const std::vector<Eigen::Matrix4d> poses = sampleOrbit().poses();
    bool queued = true;
    for (std::size_t i = 0; i < poses.size() && queued; ++i)
        queued = queueFrame(recorder, sensor.render(poses[i], static_cast<unsigned>(i)));
    if (!recorder.finish() || !queued
        || recorder.framesWritten() != static_cast<int>(poses.size())) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::remove(path.c_str());
        return 1;
    }
    return 0;
}
