#include "meshproc/poisson/CoredMeshData.h"

#include "meshproc/poisson/ReconstructionError.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <unistd.h>

namespace Veltrane {
namespace PoissonReconstruction {

static_assert(sizeof(PlyVertex) == 12 && std::is_trivially_copyable<PlyVertex>::value,
              "a point record is three floats");
static_assert(sizeof(PlyValueVertex) == 16 && std::is_trivially_copyable<PlyValueVertex>::value,
              "a point record with value is four floats");

namespace {

/// The pattern of a new temporary file's name: in the system's temporary
/// folder ($TMPDIR, else /tmp), never in the working folder.
std::string temporaryFilePattern()
{
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder && *folder ? folder : P_tmpdir) + "/fooXXXXXX";
}

}  // namespace

TempFileBuffer::TempFileBuffer()
{
    std::string name = temporaryFilePattern();
    const int descriptor = mkstemp(name.data());
    fileName_ = name;
    if (descriptor < 0)
        failReconstruction(formatMessage("[ERROR] Failed to open file: %s\n", fileName_.c_str()));
    file_ = fdopen(descriptor, "w+b");
    if (!file_) {
        close(descriptor);
        std::remove(fileName_.c_str());
        failReconstruction(formatMessage("[ERROR] Failed to open file: %s\n", fileName_.c_str()));
    }
    try {
        buffer_.resize(static_cast<size_t>(bufferSize_));
    } catch (...) {
        std::fclose(file_);
        std::remove(fileName_.c_str());
        throw;
    }
}

TempFileBuffer::~TempFileBuffer()
{
    std::fclose(file_);
    std::remove(fileName_.c_str());
}

void TempFileBuffer::writeBuffer(size_t bytes)
{
    if (std::fwrite(buffer_.data(), 1, bytes, file_) != bytes)
        failReconstruction(formatMessage("[ERROR] Failed to write file: %s\n", fileName_.c_str()));
}

void TempFileBuffer::fillBuffer()
{
    bufferSize_ = static_cast<int32_t>(std::fread(buffer_.data(), 1, buffer_.size(), file_));
    bufferPosition_ = 0;
    if (std::ferror(file_))
        failReconstruction(formatMessage("[ERROR] Failed to read file: %s\n", fileName_.c_str()));
}

bool TempFileBuffer::write(const void* source, size_t count)
{
    const char* bytes = static_cast<const char*>(source);
    while (count > 0) {
        const size_t room = static_cast<size_t>(bufferSize_ - bufferPosition_);
        if (room > count) {
            std::memcpy(buffer_.data() + bufferPosition_, bytes, count);
            bufferPosition_ += static_cast<int32_t>(count);
            break;
        }
        std::memcpy(buffer_.data() + bufferPosition_, bytes, room);
        writeBuffer(static_cast<size_t>(bufferSize_));
        bufferPosition_ = 0;
        bytes += room;
        count -= room;
    }
    return true;
}

void TempFileBuffer::rewind()
{
    if (bufferPosition_ != 0)
        writeBuffer(static_cast<size_t>(bufferPosition_));
    if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0)
        failReconstruction(formatMessage("[ERROR] Failed to write file: %s\n", fileName_.c_str()));
    fillBuffer();
}

bool TempFileBuffer::read(void* destination, size_t count)
{
    char* bytes = static_cast<char*>(destination);
    bool copiedAny = false;
    while (count > 0) {
        const size_t left = static_cast<size_t>(bufferSize_ - bufferPosition_);
        if (left > count) {
            std::memcpy(bytes, buffer_.data() + bufferPosition_, count);
            bufferPosition_ += static_cast<int32_t>(count);
            return true;
        }
        if (bufferSize_ == 0) {
            if (copiedAny)
                failReconstruction(formatMessage("[ERROR] File ends inside a record: %s\n", fileName_.c_str()));
            return false;
        }
        std::memcpy(bytes, buffer_.data() + bufferPosition_, left);
        bytes += left;
        count -= left;
        copiedAny = copiedAny || left > 0;
        fillBuffer();
    }
    return true;
}

template <class Vertex>
void CoredFileMeshData<Vertex>::rewind()
{
    vertexFile_.rewind();
    polygonFile_.rewind();
}

template <class Vertex>
int32_t CoredFileMeshData<Vertex>::appendOutOfCorePoint(const Vertex& vertex)
{
    vertexFile_.write(&vertex, sizeof(Vertex));
    return outOfCorePointCount_++;
}

template <class Vertex>
int32_t CoredFileMeshData<Vertex>::appendPolygon(const std::vector<PolygonCorner>& polygon)
{
    std::vector<int32_t> record;
    record.reserve(polygon.size() + 1);
    record.push_back(static_cast<int32_t>(polygon.size()));
    for (const PolygonCorner& corner : polygon)
        record.push_back(corner.inCore ? corner.index : -1 - corner.index);
    polygonFile_.write(record.data(), record.size() * sizeof(int32_t));
    return polygonCount_++;
}

template <class Vertex>
bool CoredFileMeshData<Vertex>::readNextOutOfCorePoint(Vertex& vertex)
{
    return vertexFile_.read(&vertex, sizeof(Vertex));
}

template <class Vertex>
bool CoredFileMeshData<Vertex>::readNextPolygon(std::vector<PolygonCorner>& polygon)
{
    int32_t count = 0;
    if (!polygonFile_.read(&count, sizeof(count)))
        return false;
    if (count < 0)
        failReconstruction(formatMessage("[ERROR] Corrupt polygon record in file: %s\n",
                                         polygonFile_.fileName().c_str()));
    std::vector<int32_t> values(static_cast<size_t>(count));
    if (count > 0 && !polygonFile_.read(values.data(), values.size() * sizeof(int32_t)))
        failReconstruction(formatMessage("[ERROR] File ends inside a record: %s\n",
                                         polygonFile_.fileName().c_str()));
    polygon.resize(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        polygon[i] = values[i] < 0 ? PolygonCorner{-1 - values[i], false} : PolygonCorner{values[i], true};
    return true;
}

template class CoredFileMeshData<PlyVertex>;
template class CoredFileMeshData<PlyValueVertex>;

}  // namespace PoissonReconstruction
}  // namespace Veltrane
