#pragma once

#include <cstdint>
#include <iosfwd>

namespace Veltrane {

/// Reads and writes the payload of one block type of a `VeltraneFile`.
///
/// The container frames each block with a header and records its payload size;
/// everything inside the payload belongs to the plugin. Owners delete the
/// concrete class.
class VeltraneFilePlugin {
public:
    /// The block type id this plugin writes and accepts.
    virtual int typeId(int) const = 0;

    /// The block header has just been written: the plugin keeps `stream` and
    /// writes its payload from the current position on. Returns whether the
    /// stream is still good.
    virtual bool beginWrite(std::iostream* stream) = 0;
    /// Finishes the payload and returns its exact size in bytes; the container
    /// writes the next block where this size says the payload ends.
    virtual std::int64_t endWrite() = 0;

    /// `stream` stands at the first of `payloadSize` payload bytes.
    virtual bool beginRead(std::iostream* stream, std::int64_t payloadSize) = 0;
    virtual bool endRead() = 0;

protected:
    ~VeltraneFilePlugin() = default;
};

}  // namespace Veltrane
