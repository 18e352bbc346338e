#include "app/HoleFilling.h"

#include "core/Logging.h"
#include "core/Mesh.h"
#include "core/Stopwatch.h"

#include <flann/flann.hpp>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace Veltrane {

namespace {

/// Octree depths of the hole fill for coarse and for fine volumes.
constexpr int coarseVolumeVoxels = 128;
constexpr int coarseDepth = 7;
constexpr int fineVolumeVoxels = 512;
constexpr int fineDepth = 9;

/// Points per leaf of the k-d tree of the colour transfer.
constexpr int leafSize = 10;

/// Logs `label` with the milliseconds since the previous step and starts
/// timing the next one.
void logStep(const char* label, Stopwatch& watch)
{
    VELTRANE_INFO(label << watch.elapsed(true) << " ms");
}

/// The positions as three floats per vertex, in vertex order.
std::vector<float> toFloats(const std::vector<Mesh::Vector>& positions)
{
    std::vector<float> values;
    values.reserve(positions.size() * 3);
    for (const Mesh::Vector& p : positions)
        values.insert(values.end(), {float(p.x()), float(p.y()), float(p.z())});
    return values;
}

/// For every position of `queries`, the index of the nearest position of
/// `points` (exact search in a single k-d tree). Throws when the search
/// fails.
std::vector<int> nearestPoints(const std::vector<Mesh::Vector>& points,
                               const std::vector<Mesh::Vector>& queries, Stopwatch& watch)
{
    std::vector<int> nearest(queries.size());
    if (points.empty() || queries.empty())
        return nearest;
    std::vector<float> dataset = toFloats(points);
    std::vector<float> queryPoints = toFloats(queries);
    std::vector<float> distances(queries.size());
    const flann::Matrix<float> datasetMatrix(dataset.data(), points.size(), 3);
    const flann::Matrix<float> queryMatrix(queryPoints.data(), queries.size(), 3);
    flann::Matrix<int> indexMatrix(nearest.data(), queries.size(), 1);
    flann::Matrix<float> distanceMatrix(distances.data(), queries.size(), 1);

    flann::Index<flann::L2_3D<float>> index(datasetMatrix,
                                            flann::KDTreeSingleIndexParams(leafSize, true));
    index.buildIndex();
    logStep("FLANN indexing: ", watch);
    index.knnSearch(queryMatrix, indexMatrix, distanceMatrix, 1, flann::SearchParams());
    logStep("FLANN search: ", watch);
    return nearest;
}

}  // namespace

PoissonReconstruction::Parameters holeFillingParameters(const std::array<int, 3>& volumeResolution)
{
    PoissonReconstruction::Parameters parameters;
    parameters.boundary = -1;
    const int largest = *std::max_element(volumeResolution.begin(), volumeResolution.end());
    int depth = parameters.depth;
    if (largest <= coarseVolumeVoxels)
        depth = coarseDepth;
    else if (largest >= fineVolumeVoxels)
        depth = fineDepth;
    parameters.depth = depth;
    parameters.solverDivide = depth;
    parameters.isoDivide = depth;
    return parameters;
}

bool transferColors(const Mesh& source, Mesh& target)
{
    Stopwatch watch;
    target.colors().clear();
    target.colorIndices().clear();
    try {
        const std::vector<int> nearest = nearestPoints(source.vertices(), target.vertices(), watch);
        const bool coloured =
            !source.vertices().empty() && source.colors().size() >= source.vertices().size();
        if (coloured) {
            const std::vector<Mesh::Vector>& from = source.colors();
            std::vector<Mesh::Vector>& to = target.colors();
            to.resize(target.vertices().size());
            const auto count = static_cast<std::ptrdiff_t>(to.size());
#pragma omp parallel for schedule(static)
            for (std::ptrdiff_t i = 0; i < count; ++i)
                to[std::size_t(i)] = from[std::size_t(nearest[std::size_t(i)])];
            target.colorIndices() = target.faces();
        }
        logStep("Color transfer: ", watch);
        return true;
    } catch (...) {
        VELTRANE_ERROR("Could not assign colors to closed mesh");
        target.colors().clear();
        target.colorIndices().clear();
        return false;
    }
}

std::unique_ptr<Mesh> fillHoles(const Mesh& mesh, const std::array<int, 3>& volumeResolution)
{
    Stopwatch watch;
    std::unique_ptr<Mesh> result = PoissonReconstruction::reconstruct(
        mesh.vertices(), mesh.normals(), holeFillingParameters(volumeResolution));
    logStep("Fill holes: ", watch);
    if (!result)
        return nullptr;
    result->computeNormals();
    logStep("Normals: ", watch);
    transferColors(mesh, *result);
    result->computeBoundingBox();
    return result;
}

}  // namespace Veltrane
