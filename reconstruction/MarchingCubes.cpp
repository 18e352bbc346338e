#include "reconstruction/MarchingCubes.h"

#include "core/Logging.h"
#include "core/Mesh.h"
#include "core/Stopwatch.h"
#include "reconstruction/MarchingCubesTables.h"

#include <algorithm>
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

/// The cells visited before cell (x, y, z) that share an edge with it, null
/// where there is none: (x-1, y), (x, y-1), (x-1, y-1) and (x+1, y-1) of its
/// own layer, and (x, y), (x-1, y), (x, y-1), (x+1, y) and (x, y+1) of the
/// layer below.
struct EarlierNeighbours {
    const EdgeVertices* left = nullptr;
    const EdgeVertices* front = nullptr;
    const EdgeVertices* leftFront = nullptr;
    const EdgeVertices* rightFront = nullptr;
    const EdgeVertices* below = nullptr;
    const EdgeVertices* leftBelow = nullptr;
    const EdgeVertices* frontBelow = nullptr;
    const EdgeVertices* rightBelow = nullptr;
    const EdgeVertices* backBelow = nullptr;
};

/// Takes the vertices that the earlier neighbours created on shared edges.
/// Every edge is looked up in every earlier cell that has it, so a cell
/// skipped for an unobserved corner leaves no seam when another cell around
/// the edge has the vertex.
void takeSharedVertices(EdgeVertices& e, const EarlierNeighbours& n)
{
    if (n.left) {
        share(e[3], (*n.left)[1]);
        share(e[7], (*n.left)[5]);
        share(e[8], (*n.left)[9]);
        share(e[11], (*n.left)[10]);
    }
    if (n.leftFront) {
        share(e[8], (*n.leftFront)[10]);
    }
    if (n.leftBelow) {
        share(e[3], (*n.leftBelow)[5]);
    }
    if (n.front) {
        share(e[0], (*n.front)[2]);
        share(e[4], (*n.front)[6]);
        share(e[8], (*n.front)[11]);
        share(e[9], (*n.front)[10]);
    }
    if (n.rightFront) {
        share(e[9], (*n.rightFront)[11]);
    }
    if (n.frontBelow) {
        share(e[0], (*n.frontBelow)[6]);
    }
    if (n.below) {
        share(e[0], (*n.below)[4]);
        share(e[1], (*n.below)[5]);
        share(e[2], (*n.below)[6]);
        share(e[3], (*n.below)[7]);
    }
    if (n.rightBelow) {
        share(e[1], (*n.rightBelow)[7]);
    }
    if (n.backBelow) {
        share(e[2], (*n.backBelow)[4]);
    }
}

/// The earlier neighbours of cell (x, y, z) in the two cached layers
/// (`current` is the cell's record in its own layer, `previous` the record at
/// the same (x, y) in the layer below). Records past x = nx-2 or y = ny-2 are
/// never written and hold no vertex, so those neighbours need no test.
EarlierNeighbours earlierNeighbours(const EdgeVertices* current, const EdgeVertices* previous, std::size_t nx,
                                    std::size_t x, std::size_t y, std::size_t z)
{
    EarlierNeighbours neighbours;
    if (x > 0) {
        neighbours.left = current - 1;
    }
    if (y > 0) {
        neighbours.front = current - nx;
        neighbours.rightFront = current - nx + 1;
        if (x > 0) {
            neighbours.leftFront = current - nx - 1;
        }
    }
    if (z > 0) {
        neighbours.below = previous;
        neighbours.rightBelow = previous + 1;
        neighbours.backBelow = previous + nx;
        if (x > 0) {
            neighbours.leftBelow = previous - 1;
        }
        if (y > 0) {
            neighbours.frontBelow = previous - nx;
        }
    }
    return neighbours;
}

/// Appends the triangles of one cell at a time to a mesh, creating each edge
/// vertex once.
class CellTriangulator {
public:
    CellTriangulator(const TypedImage<float>& distance, const TypedImage<unsigned char>* colors, float isoValue,
                     Mesh& mesh)
        : m_values(distance.typedData()),
          m_rgbw(colors ? colors->typedData() : nullptr),
          m_isoValue(isoValue),
          m_nx(static_cast<std::size_t>(std::max(distance.width, 0))),
          m_ny(static_cast<std::size_t>(std::max(distance.height, 0))),
          m_spacing(static_cast<float>(distance.spacing[0]), static_cast<float>(distance.spacing[1]),
                    static_cast<float>(distance.spacing[2])),
          m_mesh(mesh)
    {
        for (int c = 0; c < 8; ++c) {
            const int* o = marchingCubesCornerOffset[c];
            m_cornerOffset[c] = static_cast<std::size_t>(o[0]) +
                                m_nx * (static_cast<std::size_t>(o[1]) + m_ny * static_cast<std::size_t>(o[2]));
        }
    }

    /// Triangulates cell (x, y, z) and writes its edge vertices to its
    /// `record` in the current layer (`below`: the record at the same (x, y)
    /// in the layer below): none when a corner is unobserved; the record is
    /// left alone when the cell crosses no edge (no later cell reads an edge
    /// it does not cross).
    void triangulate(std::size_t x, std::size_t y, std::size_t z, EdgeVertices* record, const EdgeVertices* below)
    {
        const std::size_t base = x + m_nx * (y + m_ny * z);
        float corner[8];
        int caseIndex = 0;
        bool observed = true;
        for (int c = 0; c < 8; ++c) {
            corner[c] = m_values[base + m_cornerOffset[c]];
            observed &= !std::isnan(corner[c]);
            caseIndex |= (m_isoValue > corner[c]) << c;
        }
        if (!observed) {
            record->fill(-1);
            return;
        }
        if (marchingCubesEdgeTable[caseIndex] == 0) {
            return;
        }
        EdgeVertices e;
        e.fill(-1);
        takeSharedVertices(e, earlierNeighbours(record, below, m_nx, x, y, z));
        const signed char* row = marchingCubesTriangleTable[caseIndex];
        for (int t = 0; t < marchingCubesTriangleEntries[caseIndex]; t += 3) {
            for (int k = 0; k < 3; ++k) {
                const int edge = row[t + k];
                if (e[edge] < 0) {
                    e[edge] = addEdgeVertex(edge, x, y, z, base, corner);
                }
            }
            const Mesh::Triple face(e[row[t + 2]], e[row[t + 1]], e[row[t]]);
            m_mesh.faces().push_back(face);
            if (m_rgbw) {
                m_mesh.colorIndices().push_back(face);
            }
        }
        *record = e;
    }

private:
    /// Creates the vertex where the iso value crosses `edge` of the cell, with
    /// its colour; returns its index.
    int addEdgeVertex(int edge, std::size_t x, std::size_t y, std::size_t z, std::size_t base, const float* corner)
    {
        std::vector<Mesh::Vector>& vertices = m_mesh.vertices();
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
        const Eigen::Vector3f p =
            interpolateEdgeVertex(m_isoValue, cornerPosition(a), cornerPosition(b), corner[a], corner[b]);
        vertices.push_back(p.cwiseProduct(m_spacing).cast<double>());
        if (m_rgbw) {
            const auto cornerColor = [&](int c) {
                const unsigned char* v = m_rgbw + 4 * (base + m_cornerOffset[c]);
                return Eigen::Vector3f(v[0] / 255.0f, v[1] / 255.0f, v[2] / 255.0f);
            };
            m_mesh.colors().push_back(
                interpolateEdgeVertex(m_isoValue, cornerColor(a), cornerColor(b), corner[a], corner[b])
                    .cast<double>());
        }
        return static_cast<int>(vertices.size() - 1);
    }

    const float* m_values;
    const unsigned char* m_rgbw;
    float m_isoValue;
    std::size_t m_nx;
    std::size_t m_ny;
    Eigen::Vector3f m_spacing;
    std::size_t m_cornerOffset[8];
    Mesh& m_mesh;
};

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
        const std::size_t nx = static_cast<std::size_t>(std::max(distance.width, 0));
        const std::size_t ny = static_cast<std::size_t>(std::max(distance.height, 0));
        const std::size_t nz = static_cast<std::size_t>(std::max(distance.slices, 0));
        CellTriangulator triangulator(distance, colors, isoValue, *mesh);

        // Edge vertices of two layers of cells, the one below and the current
        // one. A record is only read for edges that the reading cell crosses,
        // and then the recorded cell crosses them too, so only the records of
        // cells skipped for an unobserved corner need clearing; the others
        // are overwritten or never consulted.
        EdgeVertices none;
        none.fill(-1);
        std::vector<EdgeVertices> belowLayer(nx * ny, none);
        std::vector<EdgeVertices> currentLayer(nx * ny, none);
        for (std::size_t z = 0; z + 1 < nz; ++z) {
            for (std::size_t y = 0; y + 1 < ny; ++y) {
                for (std::size_t x = 0; x + 1 < nx; ++x) {
                    const std::size_t cell = x + nx * y;
                    triangulator.triangulate(x, y, z, currentLayer.data() + cell, belowLayer.data() + cell);
                }
            }
            belowLayer.swap(currentLayer);
        }

        const std::size_t faces = mesh->faces().size();
        const std::size_t vertices = mesh->vertices().size();
        VELTRANE_INFO("Mesh: " << faces << " triangles, " << vertices << " vertices");
        VELTRANE_INFO("MarchingCubes: " << watch.elapsed(false) << " ms");
        return mesh;
    } catch (...) {
        VELTRANE_ERROR("Error during mesh generation.");
        return nullptr;
    }
}

}  // namespace Veltrane
