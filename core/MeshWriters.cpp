// The file writers of Mesh: Wavefront OBJ (text), binary little-endian PLY and
// binary STL.

#include "core/AtomicFileStream.h"
#include "core/Logging.h"
#include "core/Mesh.h"
#include "core/Progress.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <ostream>

namespace Veltrane {

namespace {

/// Where a position or normal is written: `negateYZ` turns it half about the
/// x axis, `rotateYZ` then writes (x, -z, y).
Mesh::Vector written(const Mesh::Vector& p, bool negateYZ, bool rotateYZ)
{
    Mesh::Vector q = p;
    if (negateYZ) {
        q.y() = -q.y();
        q.z() = -q.z();
    }
    if (rotateYZ) {
        q = Mesh::Vector(q.x(), -q.z(), q.y());
    }
    return q;
}

/// A normal fit for a file: non-finite directions become the zero vector.
Mesh::Vector finiteOrZero(const Mesh::Vector& n)
{
    return n.allFinite() ? n : Mesh::Vector::Zero();
}

/// `sum` scaled to unit length; the zero vector when it has no direction.
Mesh::Vector normalizedOrZero(const Mesh::Vector& sum)
{
    const double length = sum.norm();
    return length > 0.0 && std::isfinite(length) ? Mesh::Vector(sum / length) : Mesh::Vector::Zero();
}

/// Colour component 0 ... 1 as a byte; out-of-range values are clamped.
std::uint8_t colorByte(double component)
{
    if (!(component > 0.0)) {
        return 0;  // also NaN
    }
    return static_cast<std::uint8_t>(std::min(component, 1.0) * 255.0);
}

char* putUint32(char* out, std::uint32_t value)
{
    for (int byte = 0; byte < 4; ++byte) {
        out[byte] = static_cast<char>((value >> (8 * byte)) & 0xffu);
    }
    return out + 4;
}

char* putInt32(char* out, std::int32_t value)
{
    return putUint32(out, static_cast<std::uint32_t>(value));
}

char* putFloat(char* out, double value)
{
    const auto f = static_cast<float>(value);
    std::uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    return putUint32(out, bits);
}

char* putVector(char* out, const Mesh::Vector& v)
{
    out = putFloat(out, v.x());
    out = putFloat(out, v.y());
    return putFloat(out, v.z());
}

/// Normal indices of face f: its own triple, or, past the end of a short
/// list, the vertex indices (one normal per vertex).
const Mesh::Triple& normalIndicesOf(const Mesh& mesh, std::size_t f)
{
    return f < mesh.normalIndices().size() ? mesh.normalIndices()[f] : mesh.faces()[f];
}

}  // namespace

bool Mesh::hasWritableNormals() const
{
    return !m_vertices.empty() && !m_faces.empty() && m_normals.size() == m_vertices.size() &&
           indicesWithin(m_faces, m_vertices.size()) && indicesWithin(m_normalIndices, m_normals.size());
}

bool Mesh::writeObj(std::ostream& out, bool negateYZ, Progress* progress) const
{
    if (!hasWritableNormals() || !out.good()) {
        return false;
    }
    const bool withColors = m_colors.size() == m_vertices.size();
    const int maximum = static_cast<int>((m_vertices.size() + m_faces.size()) / 100);
    int step = 0;

    for (std::size_t i = 0; i < m_vertices.size(); ++i) {
        const Vector n = written(finiteOrZero(m_normals[i]), negateYZ, false);
        const Vector p = written(m_vertices[i], negateYZ, false);
        out << "vn " << n.x() << ' ' << n.y() << ' ' << n.z() << '\n';
        out << "v " << p.x() << ' ' << p.y() << ' ' << p.z();
        if (withColors) {
            out << ' ' << m_colors[i].x() << ' ' << m_colors[i].y() << ' ' << m_colors[i].z();
        }
        out << '\n';
        if (progress && i % 100 == 0) {
            progress->setProgress(step++, maximum);
        }
    }
    for (std::size_t f = 0; f < m_faces.size(); ++f) {
        const Triple& v = m_faces[f];
        const Triple& n = normalIndicesOf(*this, f);
        out << "f " << v[0] + 1 << "//" << n[0] + 1 << ' ' << v[1] + 1 << "//" << n[1] + 1 << ' '
            << v[2] + 1 << "//" << n[2] + 1 << '\n';
        if (progress && f % 100 == 0) {
            progress->setProgress(step++, maximum);
        }
    }
    return out.good();
}

bool Mesh::saveObj(const std::string& path, bool negateYZ, Progress* progress) const
{
    // Checked before the file is opened, so that an existing file survives.
    if (!hasWritableNormals()) {
        return false;
    }
    AtomicFileStream out(path);
    return writeObj(out, negateYZ, progress) && out.commit();
}

bool Mesh::writePly(std::ostream& out, bool negateYZ, bool rotateYZ) const
{
    if (m_vertices.empty() || m_faces.empty() || !out.good()) {
        return false;
    }
    if (!indicesWithin(m_faces, m_vertices.size())) {
        VELTRANE_ERROR("Cannot save PLY file: a face refers to a vertex the mesh does not have");
        return false;
    }
    const bool withColors = m_colors.size() == m_vertices.size();

    out << "ply\n"
        << "format binary_little_endian 1.0\n"
        << "element vertex " << m_vertices.size() << '\n'
        << "property float x\n"
        << "property float y\n"
        << "property float z\n";
    if (withColors) {
        out << "property uchar red\n"
            << "property uchar green\n"
            << "property uchar blue\n";
    }
    out << "element face " << m_faces.size() << '\n'
        << "property list uchar int vertex_indices\n"
        << "end_header\n";

    // Each block goes to the stream in one write, through one buffer that is
    // big enough for either.
    const std::size_t vertexRecord = withColors ? 15 : 12;
    constexpr std::size_t faceRecord = 13;
    const std::size_t vertexBytes = vertexRecord * m_vertices.size();
    const std::size_t faceBytes = faceRecord * m_faces.size();
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[std::max(vertexBytes, faceBytes)]);
    if (!buffer) {
        VELTRANE_ERROR("Could not allocate memory for saving PLY file");
        return false;
    }

    char* p = buffer.get();
    for (std::size_t i = 0; i < m_vertices.size(); ++i) {
        p = putVector(p, written(m_vertices[i], negateYZ, rotateYZ));
        if (withColors) {
            for (int c = 0; c < 3; ++c) {
                *p++ = static_cast<char>(colorByte(m_colors[i][c]));
            }
        }
    }
    out.write(buffer.get(), static_cast<std::streamsize>(vertexBytes));

    p = buffer.get();
    for (const Triple& face : m_faces) {
        *p++ = 3;
        for (int k = 0; k < 3; ++k) {
            p = putInt32(p, face[k]);
        }
    }
    out.write(buffer.get(), static_cast<std::streamsize>(faceBytes));
    return out.good();
}

bool Mesh::savePly(const std::string& path, bool negateYZ) const
{
    AtomicFileStream out(path);
    return writePly(out, negateYZ, false) && out.commit();
}

bool Mesh::saveStl(const std::string& path, bool negateYZ) const
{
    if (!hasWritableNormals()) {
        return false;
    }
    AtomicFileStream out(path);
    char header[84] = {};
    putUint32(header + 80, static_cast<std::uint32_t>(m_faces.size()));
    out.write(header, sizeof header);

    for (std::size_t f = 0; f < m_faces.size(); ++f) {
        const Triple& face = m_faces[f];
        Vector normal = Vector::Zero();
        if (f < m_normalIndices.size()) {
            const Triple& n = m_normalIndices[f];
            normal = normalizedOrZero(m_normals[static_cast<std::size_t>(n[0])] +
                                      m_normals[static_cast<std::size_t>(n[1])] +
                                      m_normals[static_cast<std::size_t>(n[2])]);
        }
        char record[50] = {};
        char* p = putVector(record, written(normal, negateYZ, false));
        for (int k = 0; k < 3; ++k) {
            p = putVector(p, written(m_vertices[static_cast<std::size_t>(face[k])], negateYZ, false));
        }
        out.write(record, sizeof record);  // the last two bytes: no attributes
    }
    return out.commit();
}

}  // namespace Veltrane
