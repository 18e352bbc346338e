#include "core/Mesh.h"

#include "core/Logging.h"

#include <Eigen/Geometry>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <utility>

namespace Veltrane {

namespace {

void noTextureDeleter(SharedImage*) {}

Mesh::TexturePtr noTexture()
{
    return Mesh::TexturePtr(nullptr, &noTextureDeleter);
}

/// Buckets of the exact-duplicate search. A prime, so that the coordinate
/// sums of a regular grid spread over all of them.
constexpr int bucketCount = 65521;

/// Bucket of a vertex: its coordinate sum in steps of 1/65535. Vertices with
/// a non-finite or huge sum all go to bucket 0.
int bucketOf(const Mesh::Vector& v)
{
    const double s = (v.y() + v.x() + v.z()) * 65535.0 + 0.5;
    if (!(std::fabs(s) < 4.0e18)) {
        return 0;
    }
    const auto k = static_cast<std::int64_t>(std::floor(s));
    return static_cast<int>((k < 0 ? -k : k) % bucketCount);
}

/// Below this many elements a loop is not worth waking the other threads for.
constexpr std::int64_t parallelMinimum = 4096;

/// new[map[i]] = old[i] over the old entries, the highest-numbered entry
/// winning where several share a new index. Written as a gather from each new
/// entry's winner so the parallel loop has one writer per element.
template <typename T>
std::vector<T> gatherByMap(const std::vector<T>& old, const std::vector<int>& newIndex, int count)
{
    const std::size_t n = std::min(old.size(), newIndex.size());
    std::vector<int> source(static_cast<std::size_t>(count), -1);
    for (std::size_t i = 0; i < n; ++i) {
        source[static_cast<std::size_t>(newIndex[i])] = static_cast<int>(i);
    }
    std::vector<T> result(static_cast<std::size_t>(count), T::Zero());
#pragma omp parallel for schedule(static) if (count >= parallelMinimum)
    for (int j = 0; j < count; ++j) {
        if (source[static_cast<std::size_t>(j)] >= 0) {
            result[static_cast<std::size_t>(j)] = old[static_cast<std::size_t>(source[static_cast<std::size_t>(j)])];
        }
    }
    return result;
}

void remapTriples(std::vector<Mesh::Triple>& triples, const std::vector<int>& newIndex)
{
    const auto n = static_cast<std::int64_t>(triples.size());
#pragma omp parallel for schedule(static) if (n >= parallelMinimum)
    for (std::int64_t f = 0; f < n; ++f) {
        Mesh::Triple& triple = triples[static_cast<std::size_t>(f)];
        for (int k = 0; k < 3; ++k) {
            triple[k] = newIndex[static_cast<std::size_t>(triple[k])];
        }
    }
}

}  // namespace

bool Mesh::indicesWithin(const std::vector<Triple>& triples, std::size_t count)
{
    for (const Triple& triple : triples) {
        for (int k = 0; k < 3; ++k) {
            if (triple[k] < 0 || static_cast<std::size_t>(triple[k]) >= count) {
                return false;
            }
        }
    }
    return true;
}

Mesh::Mesh() : m_texture(noTexture()) {}

Mesh::Mesh(const Mesh& other)
    : m_vertices(other.m_vertices),
      m_normals(other.m_normals),
      m_texCoords(other.m_texCoords),
      m_colors(other.m_colors),
      m_faces(other.m_faces),
      m_normalIndices(other.m_normalIndices),
      m_texCoordIndices(other.m_texCoordIndices),
      m_colorIndices(other.m_colorIndices),
      m_texture(noTexture()),
      m_boundingBoxMin(other.m_boundingBoxMin),
      m_boundingBoxExtent(other.m_boundingBoxExtent)
{
}

Mesh& Mesh::operator=(const Mesh& other)
{
    if (this != &other) {
        Mesh copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Mesh::Mesh(Mesh&& other) noexcept
    : m_vertices(std::move(other.m_vertices)),
      m_normals(std::move(other.m_normals)),
      m_texCoords(std::move(other.m_texCoords)),
      m_colors(std::move(other.m_colors)),
      m_faces(std::move(other.m_faces)),
      m_normalIndices(std::move(other.m_normalIndices)),
      m_texCoordIndices(std::move(other.m_texCoordIndices)),
      m_colorIndices(std::move(other.m_colorIndices)),
      m_texture(std::move(other.m_texture)),
      m_boundingBoxMin(other.m_boundingBoxMin),
      m_boundingBoxExtent(other.m_boundingBoxExtent)
{
    other.m_texture = noTexture();
    other.clear();
}

Mesh& Mesh::operator=(Mesh&& other) noexcept
{
    if (this != &other) {
        m_vertices = std::move(other.m_vertices);
        m_normals = std::move(other.m_normals);
        m_texCoords = std::move(other.m_texCoords);
        m_colors = std::move(other.m_colors);
        m_faces = std::move(other.m_faces);
        m_normalIndices = std::move(other.m_normalIndices);
        m_texCoordIndices = std::move(other.m_texCoordIndices);
        m_colorIndices = std::move(other.m_colorIndices);
        m_texture = std::move(other.m_texture);
        m_boundingBoxMin = other.m_boundingBoxMin;
        m_boundingBoxExtent = other.m_boundingBoxExtent;
        other.m_texture = noTexture();
        other.clear();
    }
    return *this;
}

Mesh::~Mesh() = default;

void Mesh::setTexture(TexturePtr texture)
{
    m_texture = std::move(texture);
}

Mesh::Vector Mesh::boundingBoxCenter() const
{
    return m_boundingBoxMin + m_boundingBoxExtent * 0.5;
}

void Mesh::clear()
{
    m_vertices.clear();
    m_normals.clear();
    m_texCoords.clear();
    m_colors.clear();
    m_faces.clear();
    m_normalIndices.clear();
    m_texCoordIndices.clear();
    m_colorIndices.clear();
    static_cast<void>(m_texture.release());
    m_boundingBoxMin.setZero();
    m_boundingBoxExtent.setZero();
}

void Mesh::computeBoundingBox()
{
    if (m_vertices.empty()) {
        return;
    }
    Vector minimum = m_vertices.front();
    Vector maximum = m_vertices.front();
    for (const Vector& v : m_vertices) {
        minimum = minimum.cwiseMin(v);
        maximum = maximum.cwiseMax(v);
    }
    m_boundingBoxMin = minimum;
    m_boundingBoxExtent = maximum - minimum;
}

void Mesh::computeNormals()
{
    if (!indicesWithin(m_faces, m_vertices.size())) {
        VELTRANE_ERROR("Cannot compute normals: a face refers to a vertex the mesh does not have");
        return;
    }
    // Adding each face's unit normal to its vertices face by face gives every
    // vertex its sum in ascending face order.
    std::vector<Vector> sums(m_vertices.size(), Vector::Zero());
    for (const Triple& face : m_faces) {
        const Vector& a = m_vertices[static_cast<std::size_t>(face[0])];
        const Vector& b = m_vertices[static_cast<std::size_t>(face[1])];
        const Vector& c = m_vertices[static_cast<std::size_t>(face[2])];
        const Vector n = (b - a).cross(c - a);
        const double length = n.norm();
        if (!(length > 0.0) || !std::isfinite(length)) {
            continue;  // no area, no direction
        }
        const Vector unit = n / length;
        for (int k = 0; k < 3; ++k) {
            // A vertex counts each face once, even when it appears twice in it.
            bool repeated = false;
            for (int earlier = 0; earlier < k; ++earlier) {
                repeated = repeated || face[earlier] == face[k];
            }
            if (!repeated) {
                sums[static_cast<std::size_t>(face[k])] += unit;
            }
        }
    }
    for (Vector& sum : sums) {
        const double length = sum.norm();
        if (length > 0.0 && std::isfinite(length)) {
            sum /= length;
        } else {
            sum.setZero();
        }
    }
    m_normals = std::move(sums);
    m_normalIndices = m_faces;
}

bool Mesh::isValid() const
{
    if (m_vertices.empty() || m_faces.empty()) {
        return false;
    }
    const std::pair<const std::vector<Vector>*, const std::vector<Triple>*> attributes[] = {
        {&m_normals, &m_normalIndices},
        {&m_texCoords, &m_texCoordIndices},
        {&m_colors, &m_colorIndices}};
    for (const auto& [values, indices] : attributes) {
        if (!values->empty() && indices->size() != m_faces.size()) {
            return false;
        }
    }
    if (!indicesWithin(m_faces, m_vertices.size())) {
        return false;
    }
    for (const auto& [values, indices] : attributes) {
        if (!values->empty() && !indicesWithin(*indices, values->size())) {
            return false;
        }
    }
    return true;
}

Mesh::AttributesInUse Mesh::attributesInUse() const
{
    // An index array that does not cover every face cannot be kept in step
    // with the faces; it is dropped rather than read past its end.
    const auto inUse = [this](const std::vector<Vector>& values, const std::vector<Triple>& indices) {
        return !values.empty() && !indices.empty() && indices.size() == m_faces.size();
    };
    return {inUse(m_normals, m_normalIndices), inUse(m_texCoords, m_texCoordIndices),
            inUse(m_colors, m_colorIndices)};
}

void Mesh::removeDuplicateVertices()
{
    const std::size_t n = m_vertices.size();

    // Vertices grouped by bucket, in ascending vertex order within a bucket.
    std::vector<int> bucket(n);
    std::vector<int> bucketStart(bucketCount + 1, 0);
    for (std::size_t i = 0; i < n; ++i) {
        bucket[i] = bucketOf(m_vertices[i]);
        ++bucketStart[static_cast<std::size_t>(bucket[i]) + 1];
    }
    std::partial_sum(bucketStart.begin(), bucketStart.end(), bucketStart.begin());
    std::vector<int> members(n);
    {
        std::vector<int> fill(bucketStart.begin(), bucketStart.end() - 1);
        for (std::size_t i = 0; i < n; ++i) {
            members[static_cast<std::size_t>(fill[static_cast<std::size_t>(bucket[i])]++)] =
                static_cast<int>(i);
        }
    }

    // Within a bucket, the group of the first member is numbered first; every
    // scan leaves the members that differ, and the last of them leads the next
    // group. The leader is assigned first, so a vertex that equals nothing, not
    // even itself (NaN), still ends its group.
    std::vector<int> newIndex(n, -1);
    int counter = 0;
    std::vector<int> remaining;
    std::vector<int> differing;
    for (int b = 0; b < bucketCount; ++b) {
        remaining.assign(members.begin() + bucketStart[static_cast<std::size_t>(b)],
                         members.begin() + bucketStart[static_cast<std::size_t>(b) + 1]);
        std::size_t leaderPos = 0;
        while (!remaining.empty()) {
            const int leader = remaining[leaderPos];
            const Vector& reference = m_vertices[static_cast<std::size_t>(leader)];
            newIndex[static_cast<std::size_t>(leader)] = counter;
            differing.clear();
            for (const int member : remaining) {
                if (member == leader) {
                    continue;
                }
                if (m_vertices[static_cast<std::size_t>(member)] == reference) {
                    newIndex[static_cast<std::size_t>(member)] = counter;
                } else {
                    differing.push_back(member);
                }
            }
            ++counter;
            remaining.swap(differing);
            leaderPos = remaining.empty() ? 0 : remaining.size() - 1;
        }
    }
    applyVertexMap(newIndex, counter);
}

void Mesh::mergeCloseVertices(double tolerance)
{
    if (!(tolerance >= 0.0)) {
        VELTRANE_ERROR("Cannot merge vertices closer than a negative distance: " << tolerance);
        return;
    }
    if (tolerance == 0.0) {
        removeDuplicateVertices();
        return;
    }
    const std::size_t n = m_vertices.size();
    const double cellSize = std::max(3.0 * tolerance, 0.1);

    // Key of a vertex: its coordinate sum in cells, rounded. Vertices within
    // the tolerance have keys at most one apart, so only the lists of
    // neighbouring keys are searched. A vertex without a usable key (non-finite
    // or huge coordinates) is near nothing and stays alone.
    constexpr std::int64_t noKey = std::numeric_limits<std::int64_t>::min();
    std::vector<std::int64_t> key(n, noKey);
    for (std::size_t i = 0; i < n; ++i) {
        const Vector& v = m_vertices[i];
        const double scaled = (v.y() + v.x() + v.z()) / cellSize + 0.5;
        if (std::fabs(scaled) < 4.0e18) {
            key[i] = static_cast<std::int64_t>(scaled);
        }
    }
    // The vertices sorted by key, ascending vertex order within a key: each
    // key's list is one run of `order`.
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&key](int l, int r) {
        return key[static_cast<std::size_t>(l)] < key[static_cast<std::size_t>(r)];
    });
    struct Run {
        std::int64_t key;
        std::size_t begin;
        std::size_t end;
    };
    std::vector<Run> runs;
    std::vector<std::size_t> runOf(n);
    for (std::size_t p = 0; p < n; ++p) {
        const std::int64_t k = key[static_cast<std::size_t>(order[p])];
        if (runs.empty() || runs.back().key != k) {
            runs.push_back({k, p, p});
        }
        runs.back().end = p + 1;
        runOf[static_cast<std::size_t>(order[p])] = runs.size() - 1;
    }

    std::vector<int> newIndex(n, -1);
    int counter = 0;
    const double t2 = tolerance * tolerance;
    for (std::size_t i = 0; i < n; ++i) {
        if (newIndex[i] >= 0) {
            continue;
        }
        newIndex[i] = counter;
        if (key[i] != noKey) {
            const std::size_t r = runOf[i];
            const std::size_t first = r > 0 && runs[r - 1].key == key[i] - 1 ? r - 1 : r;
            const std::size_t last = r + 1 < runs.size() && runs[r + 1].key == key[i] + 1 ? r + 1 : r;
            for (std::size_t p = runs[first].begin; p < runs[last].end; ++p) {
                const auto j = static_cast<std::size_t>(order[p]);
                if (j != i && (m_vertices[j] - m_vertices[i]).squaredNorm() <= t2) {
                    newIndex[j] = counter;  // a later claim wins
                }
            }
        }
        ++counter;
    }
    applyVertexMap(newIndex, counter);
}

void Mesh::applyVertexMap(const std::vector<int>& newIndex, int count)
{
    const AttributesInUse inUse = attributesInUse();
    const std::size_t n = m_vertices.size();
    if (!indicesWithin(m_faces, n) || (inUse.normals && !indicesWithin(m_normalIndices, n)) ||
        (inUse.texCoords && !indicesWithin(m_texCoordIndices, n)) ||
        (inUse.colors && !indicesWithin(m_colorIndices, n))) {
        VELTRANE_ERROR("Cannot merge vertices: the mesh refers to vertices it does not have");
        return;
    }
    m_vertices = gatherByMap(m_vertices, newIndex, count);
    remapTriples(m_faces, newIndex);
    if (inUse.normals) {
        m_normals = gatherByMap(m_normals, newIndex, count);
        remapTriples(m_normalIndices, newIndex);
    }
    if (inUse.texCoords) {
        m_texCoords = gatherByMap(m_texCoords, newIndex, count);
        remapTriples(m_texCoordIndices, newIndex);
    }
    if (inUse.colors) {
        m_colors = gatherByMap(m_colors, newIndex, count);
        remapTriples(m_colorIndices, newIndex);
    }
    removeDegenerateFaces();
}

void Mesh::removeDegenerateFaces()
{
    const AttributesInUse inUse = attributesInUse();
    std::vector<Triple> faces;
    std::vector<Triple> normalIndices;
    std::vector<Triple> texCoordIndices;
    std::vector<Triple> colorIndices;
    faces.reserve(m_faces.size());
    for (std::size_t f = m_faces.size(); f-- > 0;) {
        const Triple& face = m_faces[f];
        if (face[0] == face[1] || face[1] == face[2] || face[0] == face[2]) {
            continue;
        }
        faces.push_back(face);
        if (inUse.normals) {
            normalIndices.push_back(m_normalIndices[f]);
        }
        if (inUse.texCoords) {
            texCoordIndices.push_back(m_texCoordIndices[f]);
        }
        if (inUse.colors) {
            colorIndices.push_back(m_colorIndices[f]);
        }
    }
    m_faces = std::move(faces);
    m_normalIndices = std::move(normalIndices);
    m_texCoordIndices = std::move(texCoordIndices);
    m_colorIndices = std::move(colorIndices);
}

}  // namespace Veltrane
