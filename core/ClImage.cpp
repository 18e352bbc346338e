#include "core/ClImage.h"

#include "core/ClContext.h"
#include "core/ClEnvironment.h"
#include "core/Logging.h"
#include "core/MemImage.h"

#include <stdexcept>
#include <vector>

namespace Veltrane {

namespace {

[[noreturn]] void fail(const char* message)
{
    VELTRANE_ERROR(message);
    throw std::runtime_error(message);
}

[[noreturn]] void fail(const char* message, cl_int code)
{
    VELTRANE_ERROR(message << ClCode{code});
    throw std::runtime_error(message);
}

cl_mem_flags accessFlags(int access)
{
    switch (access) {
    case ClMemoryAccess::ReadOnly:
        return CL_MEM_READ_ONLY;
    case ClMemoryAccess::WriteOnly:
        return CL_MEM_WRITE_ONLY;
    default:
        return CL_MEM_READ_WRITE;
    }
}

cl_channel_order channelOrderFor(int channels)
{
    switch (channels) {
    case 1:
        return CL_R;
    case 2:
        return CL_RA;
    case 4:
        return CL_RGBA;
    default:
        fail("Only 1, 2 and 4-channel OpenCL images are supported");
    }
}

cl_channel_type channelTypeFor(int type)
{
    switch (type) {
    case PixelType::Byte:
        return CL_SIGNED_INT8;
    case PixelType::UnsignedByte:
        return CL_UNSIGNED_INT8;
    case PixelType::Short:
        return CL_SIGNED_INT16;
    case PixelType::UnsignedShort:
        return CL_UNSIGNED_INT16;
    case PixelType::Int:
        return CL_SIGNED_INT32;
    case PixelType::UnsignedInt:
        return CL_UNSIGNED_INT32;
    case PixelType::HalfFloat:
        return CL_HALF_FLOAT;
    case PixelType::Double:
        fail("Double OpenCL images are not supported");
    default:
        return CL_FLOAT;
    }
}

/// A channel order with the same channels in the same places, for devices
/// that lack `order`; 0 when there is none.
cl_channel_order equivalentOrder(cl_channel_order order)
{
    switch (order) {
    case CL_INTENSITY:
    case CL_LUMINANCE:
        return CL_R;
    case CL_RA:
        return CL_RG;
    default:
        return 0;
    }
}

bool isSupported(cl_context context, cl_mem_flags flags, cl_mem_object_type objectType,
                 const cl_image_format& format)
{
    cl_uint count = 0;
    if (clGetSupportedImageFormats(context, flags, objectType, 0, nullptr, &count) != CL_SUCCESS)
        return false;
    std::vector<cl_image_format> formats(count);
    if (count == 0 || clGetSupportedImageFormats(context, flags, objectType, count,
                                                 formats.data(), nullptr) != CL_SUCCESS)
        return false;
    for (const cl_image_format& candidate : formats) {
        if (candidate.image_channel_order == format.image_channel_order &&
            candidate.image_channel_data_type == format.image_channel_data_type)
            return true;
    }
    return false;
}

/// `format`, or its equivalent when only that one is available on `context`.
cl_image_format availableFormat(cl_context context, cl_mem_flags flags,
                                cl_mem_object_type objectType, cl_image_format format)
{
    if (isSupported(context, flags, objectType, format))
        return format;
    cl_image_format alternative = format;
    alternative.image_channel_order = equivalentOrder(format.image_channel_order);
    if (alternative.image_channel_order == 0 ||
        !isSupported(context, flags, objectType, alternative))
        return format;
    VELTRANE_WARN("OpenCL image channel order 0x" << std::hex << format.image_channel_order
                                                  << " not supported, using 0x"
                                                  << alternative.image_channel_order);
    return alternative;
}

const cl_event* dataOrNull(const std::vector<cl_event>& handles)
{
    return handles.empty() ? nullptr : handles.data();
}

/// The whole of `image` as an origin and region of the image transfer calls.
struct WholeImage {
    explicit WholeImage(const Image& image)
        : region{static_cast<std::size_t>(image.width), static_cast<std::size_t>(image.height),
                 static_cast<std::size_t>(image.slices)}
    {
    }
    const std::size_t origin[3] = {0, 0, 0};
    const std::size_t region[3];
};

/// Hands the completion event of a transfer to the caller who asked for it.
void handOver(cl_event completion, std::unique_ptr<ClEvent>* event)
{
    if (event)
        *event = std::make_unique<ClEvent>(completion);
}

}  // namespace

ClImage::ClImage(const Image& header, int memoryKind, int access, ClEnvironment* environment)
    : Image(header.type, header.width, header.height, header.slices, header.channels),
      m_environment(environment ? environment : ClEnvironment::defaultEnvironment()),
      m_memoryKind(memoryKind),
      m_access(access)
{
    shift = header.shift;
    scale = header.scale;
    spacing = header.spacing;
}

ClImage::ClImage(int memoryKind, int access, const Image& header, const void* hostData,
                 cl_channel_order channelOrder, cl_channel_type channelType,
                 ClEnvironment* environment)
    : ClImage(header, memoryKind, access, environment)
{
    create(hostData, channelOrder, channelType);
}

ClImage::~ClImage() = default;

void ClImage::create(const void* hostData, cl_channel_order channelOrder,
                     cl_channel_type channelType)
{
    cl_mem_flags flags = accessFlags(m_access);
    if (hostData)
        flags |= CL_MEM_COPY_HOST_PTR;
    if (m_memoryKind == ClMemoryKind::Buffer)
        createBuffer(flags, hostData);
    else
        createImageObject(flags, hostData, channelOrder, channelType);
}

void ClImage::createImageObject(cl_mem_flags flags, const void* hostData,
                                cl_channel_order channelOrder, cl_channel_type channelType)
{
    cl_image_format format;
    format.image_channel_order = channelOrder ? channelOrder : channelOrderFor(channels);
    format.image_channel_data_type = channelType ? channelType : channelTypeFor(type);

    const cl_context context = m_environment->context()->id();
    const bool is3D = slices != 1;
    format = availableFormat(context, flags, is3D ? CL_MEM_OBJECT_IMAGE3D : CL_MEM_OBJECT_IMAGE2D,
                             format);
    cl_int code = CL_SUCCESS;
    cl_mem image = is3D ? clCreateImage3D(context, flags, &format, width, height, slices, 0, 0,
                                          const_cast<void*>(hostData), &code)
                        : clCreateImage2D(context, flags, &format, width, height, 0,
                                          const_cast<void*>(hostData), &code);
    if (code != CL_SUCCESS)
        fail("Couldn't create OpenCL image", code);
    m_handle.reset(image);

    // Host transfers move byteSize() bytes: the format must store exactly
    // the header's elements.
    std::size_t elementSize = 0;
    clGetImageInfo(image, CL_IMAGE_ELEMENT_SIZE, sizeof elementSize, &elementSize, nullptr);
    if (elementSize != static_cast<std::size_t>(bytesPerElement()) * channels)
        fail("OpenCL image format doesn't match the image's elements");
}

void ClImage::createBuffer(cl_mem_flags flags, const void* hostData)
{
    cl_int code = CL_SUCCESS;
    cl_mem buffer = clCreateBuffer(m_environment->context()->id(), flags, byteSize(),
                                   const_cast<void*>(hostData), &code);
    if (code != CL_SUCCESS)
        fail("Couldn't create OpenCL buffer", code);
    m_handle.reset(buffer);
}

std::unique_ptr<ClImage> ClImage::subBuffer(int access, const ClImage& parent,
                                            std::size_t origin, std::size_t size, int width,
                                            int height, int slices, int channels,
                                            ClEnvironment* environment)
{
    if (parent.memoryKind() != ClMemoryKind::Buffer)
        fail("Sub-buffers only exist for OpenCL buffers");

    Image header(parent.type, width, height, slices, channels);
    header.shift = parent.shift;
    header.scale = parent.scale;
    header.spacing = parent.spacing;
    std::unique_ptr<ClImage> image(
        new ClImage(header, ClMemoryKind::Buffer, access, environment));

    cl_buffer_region region{origin, size};
    cl_int code = CL_SUCCESS;
    cl_mem buffer = clCreateSubBuffer(parent.memObject(), accessFlags(access),
                                      CL_BUFFER_CREATE_TYPE_REGION, &region, &code);
    if (code != CL_SUCCESS)
        fail("Couldn't create OpenCL sub-buffer", code);
    image->m_handle.reset(buffer);
    return image;
}

int ClImage::location() const
{
    return ImageLocation::OpenCL;
}

bool ClImage::read(void* destination, std::size_t destinationSize, std::size_t byteCount,
                   std::size_t offset, bool blocking, const ClEventList* waitList,
                   std::unique_ptr<ClEvent>* event)
{
    const std::vector<cl_event> waitHandles = clEventHandles(waitList);
    const cl_command_queue queue = m_environment->queue()->id();
    cl_event completion = nullptr;
    cl_event* completionPtr = event ? &completion : nullptr;
    cl_int code = CL_SUCCESS;
    if (m_memoryKind == ClMemoryKind::Buffer) {
        if (offset > byteSize() || (byteCount > byteSize() - offset)) {
            VELTRANE_ERROR("Read beyond the end of the OpenCL buffer");
            return false;
        }
        const std::size_t count = byteCount ? byteCount : byteSize() - offset;
        if (count > destinationSize) {
            VELTRANE_ERROR("Destination too small for the OpenCL read");
            return false;
        }
        code = clEnqueueReadBuffer(queue, memObject(), blocking, offset, count, destination,
                                   static_cast<cl_uint>(waitHandles.size()),
                                   dataOrNull(waitHandles), completionPtr);
        if (code != CL_SUCCESS) {
            VELTRANE_ERROR("Couldn't read OpenCL buffer" << ClCode{code});
            return false;
        }
    } else {
        if (byteCount != 0) {
            VELTRANE_ERROR("Reading partial images not supported");
            return false;
        }
        if (byteSize() > destinationSize) {
            VELTRANE_ERROR("Destination too small for the OpenCL read");
            return false;
        }
        const WholeImage whole(*this);
        code = clEnqueueReadImage(queue, memObject(), blocking, whole.origin, whole.region, 0, 0,
                                  destination, static_cast<cl_uint>(waitHandles.size()),
                                  dataOrNull(waitHandles), completionPtr);
        if (code != CL_SUCCESS) {
            VELTRANE_ERROR("Couldn't read OpenCL image" << ClCode{code});
            return false;
        }
    }
    handOver(completion, event);
    return true;
}

bool ClImage::write(const void* source, std::size_t sourceSize, bool blocking,
                    const ClEventList* waitList, std::unique_ptr<ClEvent>* event)
{
    if (sourceSize < byteSize()) {
        VELTRANE_ERROR("Source too small for the OpenCL write");
        return false;
    }
    const std::vector<cl_event> waitHandles = clEventHandles(waitList);
    const cl_command_queue queue = m_environment->queue()->id();
    cl_event completion = nullptr;
    cl_event* completionPtr = event ? &completion : nullptr;
    if (m_memoryKind == ClMemoryKind::Buffer) {
        const cl_int code = clEnqueueWriteBuffer(
            queue, memObject(), blocking, 0, byteSize(), source,
            static_cast<cl_uint>(waitHandles.size()), dataOrNull(waitHandles), completionPtr);
        if (code != CL_SUCCESS) {
            VELTRANE_ERROR("Couldn't write to OpenCL buffer" << ClCode{code});
            return false;
        }
    } else {
        const WholeImage whole(*this);
        const cl_int code = clEnqueueWriteImage(
            queue, memObject(), blocking, whole.origin, whole.region, 0, 0, source,
            static_cast<cl_uint>(waitHandles.size()), dataOrNull(waitHandles), completionPtr);
        if (code != CL_SUCCESS) {
            VELTRANE_ERROR("Couldn't write to OpenCL image" << ClCode{code});
            return false;
        }
    }
    handOver(completion, event);
    return true;
}

std::unique_ptr<MemImage> ClImage::download(bool blocking, const ClEventList* waitList,
                                            std::unique_ptr<ClEvent>* event)
{
    std::unique_ptr<MemImage> image(MemImage::createCompatible(this));
    if (!image || !downloadInto(image.get(), blocking, waitList, event))
        return nullptr;
    return image;
}

bool ClImage::downloadInto(MemImage* destination, bool blocking, const ClEventList* waitList,
                           std::unique_ptr<ClEvent>* event)
{
    if (!destination || !destination->data() ||
        destination->bytesPerElement() != bytesPerElement() ||
        destination->byteSize() != byteSize()) {
        VELTRANE_ERROR("Download destination doesn't match the OpenCL image");
        return false;
    }
    return read(destination->data(), destination->byteSize(), 0, 0, blocking, waitList, event);
}

}  // namespace Veltrane
