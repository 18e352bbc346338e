#pragma once

#include <boost/signals2/signal.hpp>

#include <array>
#include <atomic>
#include <vector>

namespace Veltrane {

/// The one parameter set of a reconstruction: volume geometry, frame size,
/// camera intrinsics and every tuning value of filtering, tracking and fusion.
/// Lengths are millimetres, matrices column-major.
///
/// The set is its own change signal: calling it (operator()) notifies every
/// connected slot, synchronously in the thread that made the change. Each
/// setter emits once after a change that takes effect and nothing otherwise.
/// While `locked` (a back-end holds buffers sized from the set) the setters
/// that shape the volume do nothing.
///
/// Fields without a setter keep their defaults in the application; the
/// back-ends read them directly. Invariants: every resolution component >= 1,
/// every size component > 0, 1 <= pyramidLevels <= 3 and icpIterations has at
/// least pyramidLevels entries.
class ReconstructionParameters : public boost::signals2::signal<void()> {
public:
    /// Every field at its default; emits once (no slot can be connected yet).
    ReconstructionParameters();

    /// Voxel counts (x, y, z). Refused while locked or when a component < 1.
    void setVolumeResolution(const std::array<int, 3>& resolution);
    /// Box edge lengths in mm. Refused while locked or when a component <= 0.
    void setVolumeSize(const std::array<double, 3>& size);
    /// Volume-to-camera placement at the start. Refused while locked.
    void setVolumePose(const std::array<double, 16>& pose);
    /// Whether a colour volume is kept. Refused while locked.
    void setColorVolume(bool enabled);
    /// Safe from any thread; a running frame sees the old or the new value.
    void setShowSceneColor(bool show);
    /// Stores the camera matrix and always emits, even when unchanged.
    void setIntrinsics(const std::array<double, 9>& intrinsics);
    void setLocked(bool locked);

    std::array<double, 16> volumePose() const { return m_volumePose; }
    std::array<double, 9> intrinsics() const { return m_intrinsics; }
    std::vector<int> icpIterations() const { return m_icpIterations; }

    std::array<int, 3> volumeResolution{256, 256, 256};
    std::array<double, 3> volumeSize{1000.0, 1000.0, 1000.0};
    bool colorVolume = true;
    /// Window radius of the GPU depth filter; the CPU filter's window is fixed.
    int bilateralFilterRadius = 3;
    int pyramidLevels = 3;
    /// Tracking starts once a prediction has at least this many valid pixels.
    int minValidPixels = 200;
    double icpDistanceThreshold = 100.0;   ///< mm between the points of a pair
    double icpAngleThreshold = 20.0;       ///< degrees between the normals of a pair
    double icpConvergenceThreshold = 0.1;  ///< norm of the solved 6-vector
    bool useCurvatureSelection = false;    ///< GPU back-end: compute curvature maps
    double curvatureThreshold = 0.001;
    double curvatureQuantile = 0.8;
    double maxRotationDegrees = 45.0;  ///< larger tracked rotations count as lost
    double maxTranslation = 100.0;     ///< larger tracked translations (mm) count as lost
    int maxWeight = 128;               ///< cap of the per-voxel weight; the back-ends hold it to 1..255
    double truncationFactor = 5.0;     ///< truncation distance in largest voxel edges
    bool skipSmallMotion = true;       ///< do not fuse frames that moved < 1 mm and 2 degrees
    double raycastStepFactor = 0.8;    ///< coarse ray step in truncation distances
    int imageWidth = 640;
    int imageHeight = 480;
    std::atomic<bool> showSceneColor{true};
    std::atomic<bool> locked{false};

private:
    std::array<double, 16> m_volumePose{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1800, 1};
    std::array<double, 9> m_intrinsics{531, 0, 0, 0, 531, 0, 320, 240, 1};
    std::vector<int> m_icpIterations{8, 4, 3};
};

}  // namespace Veltrane
