#pragma once

#include "meshproc/poisson/Point3D.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// Output vertex of the reconstruction: a position (12 bytes in a file).
struct PlyVertex {
    Point3D<float> point;
};

/// Output vertex with a value per vertex (16 bytes in a file).
struct PlyValueVertex {
    Point3D<float> point;
    float value = 0;
};

/// One corner of an output polygon: an index into the in-core points, or
/// (inCore false) into the out-of-core points in the order they were appended.
struct PolygonCorner {
    int32_t index = 0;
    bool inCore = false;

    bool operator==(const PolygonCorner& other) const
    {
        return index == other.index && inCore == other.inCore;
    }
};

/// Sink of the extracted surface: points kept in memory (`inCorePoints`, filled
/// and read directly), and points and polygons streamed out and read back
/// after `rewind`. Not thread-safe.
template <class Vertex>
class CoredMeshData {
public:
    virtual ~CoredMeshData() = default;

    std::vector<Vertex> inCorePoints;

    /// Switches from writing to reading, from the first record on.
    virtual void rewind() = 0;
    /// Returns the point's out-of-core index (the count before the call).
    virtual int32_t appendOutOfCorePoint(const Vertex& vertex) = 0;
    /// Returns the polygon's index (the count before the call).
    virtual int32_t appendPolygon(const std::vector<PolygonCorner>& polygon) = 0;
    /// False at the end of the stored points.
    virtual bool readNextOutOfCorePoint(Vertex& vertex) = 0;
    /// False at the end of the stored polygons.
    virtual bool readNextPolygon(std::vector<PolygonCorner>& polygon) = 0;
    virtual int32_t outOfCorePointTotal() const = 0;
    virtual int32_t polygonTotal() const = 0;
};

/// A temporary file in the system's temporary folder ($TMPDIR, else /tmp),
/// never in the working folder, named with the prefix "foo", created
/// exclusively, written and read sequentially through one 1 MB buffer, and
/// removed when the object is destroyed (also when a reconstruction fails and
/// unwinds). Records may straddle the buffer's end. Failures to create, write or read the file throw
/// ReconstructionError after an "[ERROR]" line on the standard error stream.
class TempFileBuffer {
public:
    static constexpr int32_t defaultBufferSize = 1 << 20;

    TempFileBuffer();
    ~TempFileBuffer();
    TempFileBuffer(const TempFileBuffer&) = delete;
    TempFileBuffer& operator=(const TempFileBuffer&) = delete;

    /// Appends `count` bytes; a write that fills the buffer flushes it at once.
    bool write(const void* source, size_t count);
    /// Flushes what is buffered, then reads from the first byte on.
    void rewind();
    /// Copies the next `count` bytes; false when the file ended before the
    /// first of them. A file that ends inside the bytes asked for is an error.
    bool read(void* destination, size_t count);

    const std::string& fileName() const { return fileName_; }

private:
    void writeBuffer(size_t bytes);
    void fillBuffer();

    std::FILE* file_ = nullptr;
    std::vector<char> buffer_;
    std::string fileName_;
    int32_t bufferPosition_ = 0;
    int32_t bufferSize_ = defaultBufferSize;
};

/// CoredMeshData that streams the out-of-core points and the polygons into
/// two temporary files. A polygon record is int32 n followed by n int32
/// corners: the index of an in-core corner, -1 - index for an out-of-core one.
template <class Vertex>
class CoredFileMeshData final : public CoredMeshData<Vertex> {
public:
    CoredFileMeshData() = default;

    void rewind() override;
    int32_t appendOutOfCorePoint(const Vertex& vertex) override;
    int32_t appendPolygon(const std::vector<PolygonCorner>& polygon) override;
    bool readNextOutOfCorePoint(Vertex& vertex) override;
    bool readNextPolygon(std::vector<PolygonCorner>& polygon) override;
    int32_t outOfCorePointTotal() const override { return outOfCorePointCount_; }
    int32_t polygonTotal() const override { return polygonCount_; }

    const TempFileBuffer& vertexFile() const { return vertexFile_; }
    const TempFileBuffer& polygonFile() const { return polygonFile_; }

private:
    TempFileBuffer vertexFile_;
    TempFileBuffer polygonFile_;
    int32_t outOfCorePointCount_ = 0;
    int32_t polygonCount_ = 0;
};

extern template class CoredFileMeshData<PlyVertex>;
extern template class CoredFileMeshData<PlyValueVertex>;

}  // namespace PoissonReconstruction
}  // namespace Veltrane
