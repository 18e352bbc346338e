#include "reconstruction/MarchingCubes.h"

#include "core/Logging.h"
#include "core/Mesh.h"
#include "core/Stopwatch.h"
#include "reconstruction/MarchingCubesTables.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <vector>

namespace Veltrane {

namespace {

/// Mesh vertex on each of a cell's twelve edges, -1 for none.
using EdgeVertices = std::array<int, 12>;

/// `target` takes `source` when that names a vertex.
void share(int& target, int source)
{
    if (source >= 0) {
        target = source;
    }
}

/// The edge vertices that cell (x, y, z) shares with the cells visited before
/// it: (x-1, y), (x, y-1) and (x-1, y-1) of its own layer, and (x, y), (x-1, y)
/// and (x, y-1) of the layer below.
void takeSharedVertices(EdgeVertices& e, const EdgeVertices* left, const EdgeVertices* front,
                        const EdgeVertices* leftFront, const EdgeVertices* below,
                        const EdgeVertices* leftBelow, const EdgeVertices* frontBelow)
{
    if (left) {
        share(e[3], (*left)[1]);
        share(e[7], (*left)[5]);
        share(e[8], (*left)[9]);
        share(e[11], (*left)[10]);
        if (leftFront) {
            share(e[8], (*leftFront)[10]);
        }
        if (leftBelow) {
            share(e[3], (*leftBelow)[5]);
        }
    }
    if (front) {
        share(e[0], (*front)[2]);
        share(e[4], (*front)[6]);
        share(e[8], (*front)[11]);
        share(e[9], (*front)[10]);
        if (frontBelow) {
            share(e[0], (*frontBelow)[6]);
        }
    }
    if (below) {
        share(e[0], (*below)[4]);
        share(e[1], (*below)[5]);
        share(e[2], (*below)[6]);
        share(e[3], (*below)[7]);
    }
}

bool volumesFit(const TypedImage<float>& distance, const TypedImage<unsigned char>* colors)
{
    if (distance.channels != 1 || !distance.typedData()) {
        VELTRANE_ERROR("Mesh generation needs a one-channel distance volume");
        return false;
    }
    if (colors && (colors->channels != 4 || !colors->typedData() || colors->width != distance.width ||
                   colors->height != distance.height || colors->slices != distance.slices)) {
        VELTRANE_ERROR("Mesh generation needs a four-channel colour volume of the distance volume's size");
        return false;
    }
    return true;
}

}  // namespace

Eigen::Vector3f interpolateEdgeVertex(float isoValue, const Eigen::Vector3f& pa,
                                      const Eigen::Vector3f& pb, float fa, float fb)
{
    if (fa == fb) {
        return pa;
    }
    const float r = (isoValue - fa) / (fb - fa);
    return pa + r * (pb - pa);
}

std::unique_ptr<Mesh> marchingCubes(const TypedImage<float>& distance,
                                    const TypedImage<unsigned char>* colors, float isoValue)
{
    Stopwatch watch(true);
    if (!volumesFit(distance, colors)) {
        return nullptr;
    }
    try {
        auto mesh = std::make_unique<Mesh>();
        std::vector<Mesh::Vector>& vertices = mesh->vertices();
        std::vector<Mesh::Triple>& faces = mesh->faces();
        std::vector<Mesh::Vector>& vertexColors = mesh->colors();
        std::vector<Mesh::Triple>& colorIndices = mesh->colorIndices();

        const std::size_t nx = static_cast<std::size_t>(std::max(distance.width, 0));
        const std::size_t ny = static_cast<std::size_t>(std::max(distance.height, 0));
        const std::size_t nz = static_cast<std::size_t>(std::max(distance.slices, 0));
        const Eigen::Vector3f spacing(static_cast<float>(distance.spacing[0]),
                                      static_cast<float>(distance.spacing[1]),
                                      static_cast<float>(distance.spacing[2]));
        const float* values = distance.typedData();
        const unsigned char* rgbw = colors ? colors->typedData() : nullptr;

        std::size_t cornerOffset[8];
        for (int c = 0; c < 8; ++c) {
            const int* o = marchingCubesCornerOffset[c];
            cornerOffset[c] = static_cast<std::size_t>(o[0]) + nx * (static_cast<std::size_t>(o[1]) +
                                                                     ny * static_cast<std::size_t>(o[2]));
        }

        // Two layers of cells: the previous one (records 0 ... nx*ny-1) and
        // the current one.
        EdgeVertices none;
        none.fill(-1);
        std::vector<EdgeVertices> cache(2 * nx * ny, none);
        const std::size_t layer = nx * ny;

        for (std::size_t z = 0; z + 1 < nz; ++z) {
            for (std::size_t y = 0; y + 1 < ny; ++y) {
                for (std::size_t x = 0; x + 1 < nx; ++x) {
                    EdgeVertices& record = cache[layer + x + nx * y];
                    record = none;

                    const std::size_t base = x + nx * (y + ny * z);
                    float corner[8];
                    int caseIndex = 0;
                    bool observed = true;
                    for (int c = 0; c < 8; ++c) {
                        corner[c] = values[base + cornerOffset[c]];
                        observed = observed && !std::isnan(corner[c]);
                        caseIndex |= (isoValue > corner[c]) << c;
                    }
                    const int entries = marchingCubesTriangleEntries[caseIndex];
                    if (!observed || entries == 0) {
                        continue;
                    }

                    EdgeVertices e = none;
                    const std::size_t cell = x + nx * y;
                    takeSharedVertices(e, x > 0 ? &cache[layer + cell - 1] : nullptr,
                                       y > 0 ? &cache[layer + cell - nx] : nullptr,
                                       x > 0 && y > 0 ? &cache[layer + cell - nx - 1] : nullptr,
                                       z > 0 ? &cache[cell] : nullptr,
                                       x > 0 && z > 0 ? &cache[cell - 1] : nullptr,
                                       y > 0 && z > 0 ? &cache[cell - nx] : nullptr);

                    const signed char* row = marchingCubesTriangleTable[caseIndex];
                    for (int t = 0; t < entries; t += 3) {
                        for (int k = 0; k < 3; ++k) {
                            const int edge = row[t + k];
                            if (e[edge] >= 0) {
                                continue;
                            }
                            if (vertices.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max())) {
                                throw std::length_error("too many vertices");
                            }
                            const int a = marchingCubesEdgeCorners[edge][0];
                            const int b = marchingCubesEdgeCorners[edge][1];
                            const auto cornerPosition = [&](int c) {
                                const int* o = marchingCubesCornerOffset[c];
                                return Eigen::Vector3f(static_cast<float>(x + o[0]), static_cast<float>(y + o[1]),
                                                       static_cast<float>(z + o[2]));
                            };
                            const Eigen::Vector3f p = interpolateEdgeVertex(
                                isoValue, cornerPosition(a), cornerPosition(b), corner[a], corner[b]);
                            e[edge] = static_cast<int>(vertices.size());
                            vertices.push_back(p.cwiseProduct(spacing).cast<double>());
                            if (rgbw) {
                                const auto cornerColor = [&](int c) {
                                    const unsigned char* v = rgbw + 4 * (base + cornerOffset[c]);
                                    return Eigen::Vector3f(v[0] / 255.0f, v[1] / 255.0f, v[2] / 255.0f);
                                };
                                vertexColors.push_back(interpolateEdgeVertex(isoValue, cornerColor(a),
                                                                             cornerColor(b), corner[a], corner[b])
                                                           .cast<double>());
                            }
                        }
                        const Mesh::Triple face(e[row[t + 2]], e[row[t + 1]], e[row[t]]);
                        faces.push_back(face);
                        if (rgbw) {
                            colorIndices.push_back(face);
                        }
                    }
                    record = e;
                }
            }
            std::copy(cache.begin() + static_cast<std::ptrdiff_t>(layer), cache.end(), cache.begin());
        }

        VELTRANE_INFO("Mesh: " << faces.size() << " triangles, " << vertices.size() << " vertices");
        VELTRANE_INFO("MarchingCubes: " << watch.elapsed(false) << " ms");
        return mesh;
    } catch (...) {
        VELTRANE_ERROR("Error during mesh generation.");
        return nullptr;
    }
}

}  // namespace Veltrane
