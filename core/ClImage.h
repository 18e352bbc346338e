#pragma once

#include "core/ClEvent.h"
#include "core/ClHandle.h"
#include "core/Image.h"

#include <memory>

namespace Veltrane {

class ClEnvironment;
class MemImage;

/// What holds the elements of a `ClImage`.
namespace ClMemoryKind {
constexpr int ImageObject = 0;  ///< an OpenCL image, read through the image functions
constexpr int Buffer = 1;       ///< a plain OpenCL buffer
}  // namespace ClMemoryKind

/// How kernels may access the memory of a `ClImage`.
namespace ClMemoryAccess {
constexpr int ReadWrite = 0;
constexpr int ReadOnly = 1;
constexpr int WriteOnly = 2;
}  // namespace ClMemoryAccess

/// An image whose elements live in OpenCL memory of an environment, in an
/// OpenCL image object (2-D with one slice, else 3-D) or a plain buffer.
/// Host transfers move whole images (buffers may also be read in parts), in
/// the element layout of `Image`.
/// Failed transfers are logged and give false or null; construction failures
/// are logged and thrown as std::runtime_error.
class ClImage : public Image {
public:
    /// Creates the memory for `header`'s type, sizes and intensity mapping
    /// on `environment` (null for the default one), initialised from
    /// `hostData` when given (which must hold header.byteSize() bytes).
    ///
    /// Image objects take `channelOrder` and `channelType` when non-zero;
    /// otherwise 1, 2 and 4 channels give CL_R, CL_RA and CL_RGBA, and the
    /// element type gives an unnormalised integer, float or half channel
    /// type (double is refused). A format the device lacks is replaced by an
    /// equivalent one of the same size where there is one (CL_INTENSITY and
    /// CL_LUMINANCE by CL_R, CL_RA by CL_RG), with a WARN line. A format
    /// whose elements differ in size from the header's is refused, since
    /// host transfers move byteSize() bytes.
    ClImage(int memoryKind, int access, const Image& header, const void* hostData = nullptr,
            cl_channel_order channelOrder = 0, cl_channel_type channelType = 0,
            ClEnvironment* environment = nullptr);
    ~ClImage() override;

    /// A buffer over `size` bytes of `parent` (a buffer) from byte `origin`,
    /// described as `width` x `height` x `slices` elements of `channels`
    /// values of the parent's type.
    static std::unique_ptr<ClImage> subBuffer(int access, const ClImage& parent,
                                              std::size_t origin, std::size_t size, int width,
                                              int height, int slices, int channels,
                                              ClEnvironment* environment = nullptr);

    int location() const override;

    int memoryKind() const { return m_memoryKind; }
    int access() const { return m_access; }
    cl_mem memObject() const { return m_handle.get(); }
    ClEnvironment* environment() const { return m_environment; }

    /// Copies `byteCount` bytes (all from `offset` on when 0) from `offset`
    /// of a buffer, or a whole image object (`byteCount` and `offset` 0),
    /// into `destination`, which holds `destinationSize` bytes. A non-blocking
    /// read is complete when its `event` is. The event is only handed back on
    /// success.
    bool read(void* destination, std::size_t destinationSize, std::size_t byteCount = 0,
              std::size_t offset = 0, bool blocking = true, const ClEventList* waitList = nullptr,
              std::unique_ptr<ClEvent>* event = nullptr);

    /// Overwrites the whole memory from `source`, which holds `sourceSize`
    /// bytes (at least byteSize()). A non-blocking write may only release
    /// `source` once its event is complete.
    bool write(const void* source, std::size_t sourceSize, bool blocking = true,
               const ClEventList* waitList = nullptr, std::unique_ptr<ClEvent>* event = nullptr);

    /// A new host image with this image's header holding its elements; null
    /// when the read fails.
    std::unique_ptr<MemImage> download(bool blocking = true, const ClEventList* waitList = nullptr,
                                       std::unique_ptr<ClEvent>* event = nullptr);

    /// Reads the elements into `destination`, which must have the same byte
    /// size and element width.
    bool downloadInto(MemImage* destination, bool blocking = true,
                      const ClEventList* waitList = nullptr,
                      std::unique_ptr<ClEvent>* event = nullptr);

private:
    ClImage(const Image& header, int memoryKind, int access, ClEnvironment* environment);

    void create(const void* hostData, cl_channel_order channelOrder, cl_channel_type channelType);
    void createImageObject(cl_mem_flags flags, const void* hostData,
                           cl_channel_order channelOrder, cl_channel_type channelType);
    void createBuffer(cl_mem_flags flags, const void* hostData);

    ClEnvironment* m_environment;
    int m_memoryKind;
    int m_access;
    ClHandle<cl_mem, clReleaseMemObject> m_handle;
};

}  // namespace Veltrane
