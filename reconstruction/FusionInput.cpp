#include "reconstruction/FusionInput.h"

#include "core/Logging.h"
#include "reconstruction/FusionConstants.h"
#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfaceReconstruction.h"

#include <Eigen/LU>

#include <algorithm>
#include <cmath>
#include <iomanip>

namespace Veltrane::FusionInput {

namespace {

bool positive(double value)
{
    return std::isfinite(value) && value > 0.0;
}

/// Column-major: fx = k[0], fy = k[4], and the last row is k[2], k[5], k[8].
bool intrinsicsUsable(const std::array<double, 9>& k)
{
    return std::all_of(k.begin(), k.end(), [](double v) { return std::isfinite(v); }) && k[0] > 0.0 &&
           k[4] > 0.0 && k[2] == 0.0 && k[5] == 0.0 && k[8] == 1.0;
}

bool iterationsUsable(const std::vector<int>& iterations, int levels)
{
    const auto used = iterations.begin() + levels;
    return std::none_of(iterations.begin(), used, [](int n) { return n < 0; }) &&
           std::any_of(iterations.begin(), used, [](int n) { return n > 0; });
}

}  // namespace

const char* parameterProblem(const ReconstructionParameters& p)
{
    const auto& n = p.volumeResolution;
    const auto& size = p.volumeSize;
    if (std::any_of(n.begin(), n.end(), [](int count) { return count < 1; }))
        return "the volume needs at least one voxel along each axis";
    if (!std::all_of(size.begin(), size.end(), positive))
        return "the volume needs a finite, positive size along each axis";
    if (!isUsablePose(p.volumePose().data()))
        return "the volume pose must be finite and invertible";
    if (p.pyramidLevels < 1 || p.pyramidLevels > FusionConstants::maxPyramidLevels)
        return "the pyramid needs 1 to 3 levels";
    if (p.imageWidth < 1 || p.imageHeight < 1 || (p.imageWidth >> (p.pyramidLevels - 1)) < 1 ||
        (p.imageHeight >> (p.pyramidLevels - 1)) < 1)
        return "the frame is too small for its pyramid levels";
    const std::vector<int> iterations = p.icpIterations();
    if (static_cast<int>(iterations.size()) < p.pyramidLevels || !iterationsUsable(iterations, p.pyramidLevels))
        return "every pyramid level needs an iteration count, none negative and one positive";
    if (!intrinsicsUsable(p.intrinsics()))
        return "the camera intrinsics need finite values, positive focal lengths and the last row 0 0 1";
    if (!positive(p.truncationFactor))
        return "the truncation factor must be finite and positive";
    if (!positive(p.raycastStepFactor))
        return "the ray-cast step factor must be finite and positive";
    if (!positive(p.icpDistanceThreshold) || !positive(p.icpAngleThreshold))
        return "the tracking distance and angle thresholds must be finite and positive";
    if (!std::isfinite(p.icpConvergenceThreshold) || p.icpConvergenceThreshold < 0.0)
        return "the tracking convergence threshold must be finite and not negative";
    if (!positive(p.maxTranslation) || !positive(p.maxRotationDegrees))
        return "the largest motion per frame must be finite and positive";
    if (p.bilateralFilterRadius < 0)
        return "the depth filter radius must not be negative";
    return nullptr;
}

int weightCap(const ReconstructionParameters& params)
{
    return std::clamp(params.maxWeight, 1, 255);
}

bool isUsablePose(const double* pose)
{
    const Eigen::Matrix4f m = Eigen::Map<const Eigen::Matrix4d>(pose).cast<float>();
    return m.allFinite() && std::abs(static_cast<double>(m.determinant())) > 1e-6;
}

int refusedFrame(const TypedImage<unsigned short>* depth, const TypedImage<unsigned char>* sceneImage,
                 const double* poseIn, int width, int height)
{
    if (!depth || depth->width != width || depth->height != height || depth->slices != 1 || depth->channels != 1)
        return SurfaceReconstruction::WrongFrameSize;
    if (sceneImage && (sceneImage->width != width || sceneImage->height != height || sceneImage->slices != 1 ||
                       sceneImage->channels != 3))
        return SurfaceReconstruction::WrongFrameSize;
    if (poseIn && !isUsablePose(poseIn))
        return SurfaceReconstruction::InvalidPose;
    return 0;
}

double bufferBytes(const VolumeGeometry& volume, bool withColour, int width, int height, int levels,
                   double framePixelBytes, double levelPixelBytes)
{
    double bytes = volume.volumeBytes(withColour) + framePixelBytes * width * height;
    for (int l = 0; l < levels; ++l)
        bytes += levelPixelBytes * (width >> l) * (height >> l);
    return bytes;
}

bool fitsInMemory(double bytes, std::uint64_t available, const char* memory)
{
    if (available == 0 || bytes <= static_cast<double>(available))
        return true;
    constexpr double megabyte = 1024.0 * 1024.0;
    VELTRANE_ERROR("SurfaceReconstruction: the volume needs " << std::fixed << std::setprecision(0)
                                                              << std::ceil(bytes / megabyte) << " MB, more than the "
                                                              << available / (1024 * 1024) << " MB of " << memory);
    return false;
}

}  // namespace Veltrane::FusionInput
