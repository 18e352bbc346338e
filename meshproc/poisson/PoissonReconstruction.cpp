#include "meshproc/poisson/PoissonReconstruction.h"

#include "core/Logging.h"
#include "meshproc/poisson/IsoSurfaceExtraction.h"

#include <omp.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <sstream>

namespace Veltrane {
namespace PoissonReconstruction {

Parameters::Parameters() : threads(omp_get_num_procs()) {}

int maxSupportedDepth(int boundary)
{
    // The free boundary builds its splines one depth deeper than the tree.
    constexpr int deepest = Octree<NodeData>::maxTreeDepth;
    return boundary == 0 ? deepest - 1 : deepest;
}

int maxThreads()
{
    return std::max(64, omp_get_num_procs());
}

namespace {

/// Tree building skips a sample whose normal is not longer than this.
constexpr float shortestNormal = 1e-6f;

bool hasUsableNormal(const std::vector<Mesh::Vector>& positions, const std::vector<Mesh::Vector>& normals)
{
    const size_t count = std::min(positions.size(), normals.size());
    for (size_t i = 0; i < count; ++i)
        if (positions[i].allFinite() && normals[i].allFinite() && normals[i].cast<float>().norm() > shortestNormal)
            return true;
    return false;
}

/// Sets `error` when `value` lies outside low ... high; `range` says so in words.
bool outside(const char* name, int value, int low, int high, const std::string& range, std::string& error)
{
    if (value >= low && value <= high)
        return false;
    error = std::string(name) + " must " + range + ", not " + std::to_string(value);
    return true;
}

/// Sets `error` when `value` is not finite or not above (or, with
/// `zeroAllowed`, at least) zero.
bool notFiniteAndPositive(const char* name, float value, bool zeroAllowed, std::string& error)
{
    if (std::isfinite(value) && (value > 0 || (zeroAllowed && value == 0)))
        return false;
    std::ostringstream text;
    text << name << " must be a finite number " << (zeroAllowed ? "of at least 0" : "above 0") << ", not " << value;
    error = text.str();
    return true;
}

}  // namespace

MyPointStream::MyPointStream(const std::vector<Mesh::Vector>& positions, const std::vector<Mesh::Vector>& normals)
    : positions_(&positions), normals_(&normals)
{
}

void MyPointStream::rewind()
{
    cursor_ = 0;
}

bool MyPointStream::readPoint(float position[3], float normal[3])
{
    const size_t index = size_t(cursor_);
    if (index >= positions_->size() || index >= normals_->size())
        return false;
    for (int axis = 0; axis < 3; ++axis) {
        position[axis] = float((*positions_)[index][axis]);
        normal[axis] = float((*normals_)[index][axis]);
    }
    ++cursor_;
    return true;
}

std::unique_ptr<Mesh> reconstruct(const std::vector<Mesh::Vector>& positions, const std::vector<Mesh::Vector>& normals,
                                  const Parameters& parameters)
{
    try {
        if (parameters.density)
            return runReconstruction<DensityNodeData>(positions, normals, parameters);
        return runReconstruction<NodeData>(positions, normals, parameters);
    } catch (...) {
        VELTRANE_ERROR("Error in Poisson Reconstruction");
        return nullptr;
    }
}

template <class Data>
std::unique_ptr<Mesh> runReconstruction(const std::vector<Mesh::Vector>& positions,
                                        const std::vector<Mesh::Vector>& normals, const Parameters& parameters)
{
    DerivedParameters settings;
    std::string error;
    if (!deriveParameters(parameters, settings, error)) {
        VELTRANE_ERROR(error);
        return nullptr;
    }
    if (positions.empty() || normals.empty()) {
        VELTRANE_ERROR("Poisson reconstruction needs points with normals; there are none");
        return nullptr;
    }

    Octree<Data> tree;
    tree.threads = parameters.threads;
    tree.boundaryType = settings.boundaryType;
    tree.splineRadius = 1.5f;
    tree.splineWidth = 3;
    tree.normalSmooth = 1.0f / float(1 << settings.splineDepth);
    tree.splineData.build(settings.splineDepth, settings.boundaryType);

    MyPointStream points(positions, normals);
    const std::array<float, 16> identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const int32_t samples =
        tree.BuildTree(points, parameters.depth, parameters.minDepth, settings.kernelDepth, parameters.samplesPerNode,
                       parameters.scale, parameters.confidence, parameters.pointWeight, parameters.adaptiveExp, identity);
    if (samples == 0) {
        if (hasUsableNormal(positions, normals))
            VELTRANE_ERROR("Poisson reconstruction found no point with a normal inside the reconstruction cube");
        else
            VELTRANE_ERROR("Poisson reconstruction needs points with non-zero normals");
        return nullptr;
    }
    tree.PruneEmptyChildren();
    tree.FinalizeTree(settings.isoDivide);
    tree.ComputeConstraints();
    tree.SolveSystem(settings.solverDivide, parameters.showResidual, parameters.minIters, settings.maxSolveDepth,
                     parameters.iters, double(parameters.accuracy));

    CoredFileMeshData<PlyVertex> data;
    const float isoValue = ComputeIsoValue(tree);
    if (!std::isfinite(isoValue)) {
        VELTRANE_ERROR("Poisson reconstruction found no finite iso-value (" << isoValue << ")");
        return nullptr;
    }
    ExtractIsoSurface(tree, isoValue, settings.isoDivide, data, true);
    std::unique_ptr<Mesh> mesh = meshFromCoredData(data);
    if (mesh->faces().empty()) {
        VELTRANE_ERROR("Poisson reconstruction found no surface");
        return nullptr;
    }
    return mesh;
}

template std::unique_ptr<Mesh> runReconstruction<NodeData>(const std::vector<Mesh::Vector>&,
                                                           const std::vector<Mesh::Vector>&, const Parameters&);
template std::unique_ptr<Mesh> runReconstruction<DensityNodeData>(const std::vector<Mesh::Vector>&,
                                                                  const std::vector<Mesh::Vector>&, const Parameters&);

bool deriveParameters(const Parameters& parameters, DerivedParameters& settings, std::string& error)
{
    settings.boundaryType = parameters.boundary < 0 ? -1 : parameters.boundary > 0 ? 1 : 0;
    const int maxDepth = maxSupportedDepth(settings.boundaryType);
    const int depth = parameters.depth;
    const std::string upToDepth = " and depth (" + std::to_string(depth) + ")";
    if (outside("depth", depth, 1, maxDepth, "lie between 1 and " + std::to_string(maxDepth), error) ||
        outside("threads", parameters.threads, 1, INT_MAX, "be positive", error) ||
        outside("threads", parameters.threads, 1, maxThreads(), "be at most " + std::to_string(maxThreads()),
                error) ||
        outside("minDepth", parameters.minDepth, 0, depth, "lie between 0" + upToDepth, error) ||
        (parameters.maxSolveDepth != -1 &&
         outside("maxSolveDepth", parameters.maxSolveDepth, 0, depth, "be -1 or lie between 0" + upToDepth,
                 error)) ||
        (parameters.iters != -1 &&
         outside("iters", parameters.iters, 1, maxIterations,
                 "be -1 or lie between 1 and " + std::to_string(maxIterations), error)) ||
        outside("minIters", parameters.minIters, 0, maxIterations,
                "lie between 0 and " + std::to_string(maxIterations), error) ||
        outside("adaptiveExp", parameters.adaptiveExp, 0, maxAdaptiveExp,
                "lie between 0 and " + std::to_string(maxAdaptiveExp), error) ||
        notFiniteAndPositive("samplesPerNode", parameters.samplesPerNode, false, error) ||
        notFiniteAndPositive("scale", parameters.scale, false, error) ||
        notFiniteAndPositive("accuracy", parameters.accuracy, true, error) ||
        notFiniteAndPositive("pointWeight", parameters.pointWeight, true, error))
        return false;
    settings.maxSolveDepth = parameters.maxSolveDepth == -1 ? parameters.depth : parameters.maxSolveDepth;
    settings.solverDivide = std::max(parameters.solverDivide, parameters.minDepth);
    settings.isoDivide = std::max(parameters.isoDivide, parameters.minDepth);
    settings.kernelDepth = parameters.kernelDepth == -1 ? parameters.depth - 2 : parameters.kernelDepth;
    settings.splineDepth = settings.boundaryType == 0 ? parameters.depth + 1 : parameters.depth;
    if (settings.kernelDepth > parameters.depth) {
        error = "kernelDepth can't be greater than depth";
        return false;
    }
    return true;
}

std::unique_ptr<Mesh> meshFromCoredData(CoredMeshData<PlyVertex>& data)
{
    const size_t inCoreCount = data.inCorePoints.size();
    const size_t pointCount = inCoreCount + size_t(data.outOfCorePointTotal());
    std::vector<Mesh::Vector> points;
    points.reserve(pointCount);
    std::vector<Mesh::Triple> faces;
    faces.reserve(size_t(data.polygonTotal()));

    data.rewind();
    for (const PlyVertex& vertex : data.inCorePoints)
        points.emplace_back(vertex.point[0], vertex.point[1], vertex.point[2]);
    PlyVertex vertex;
    for (int32_t i = 0; i < data.outOfCorePointTotal() && data.readNextOutOfCorePoint(vertex); ++i)
        points.emplace_back(vertex.point[0], vertex.point[1], vertex.point[2]);

    std::vector<PolygonCorner> polygon;
    for (int32_t i = 0; i < data.polygonTotal() && data.readNextPolygon(polygon); ++i) {
        if (polygon.size() != 3)
            continue;
        Mesh::Triple face;
        bool valid = true;
        for (int k = 0; k < 3; ++k) {
            const int64_t index = polygon[size_t(k)].inCore ? int64_t(polygon[size_t(k)].index)
                                                            : int64_t(inCoreCount) + polygon[size_t(k)].index;
            valid = valid && index >= 0 && index < int64_t(points.size());
            face[k] = int(index);
        }
        if (valid)
            faces.push_back(face);
    }

    // Keep only the vertices the faces use, in their order.
    std::vector<int> newIndex(points.size(), -1);
    for (const Mesh::Triple& face : faces)
        for (int k = 0; k < 3; ++k)
            newIndex[size_t(face[k])] = 0;
    auto mesh = std::make_unique<Mesh>();
    mesh->vertices().reserve(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        if (newIndex[i] < 0)
            continue;
        newIndex[i] = int(mesh->vertices().size());
        mesh->vertices().push_back(points[i]);
    }
    for (Mesh::Triple& face : faces)
        for (int k = 0; k < 3; ++k)
            face[k] = newIndex[size_t(face[k])];
    mesh->faces() = std::move(faces);
    return mesh;
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
