#include "core/ClImage.h"
#include "core/TypedImage.h"
#include "testsupport/ClTestSupport.h"
#include "testsupport/LogCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <stdexcept>

namespace Veltrane {
namespace {

class ClImageTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(environment(), nullptr); }

    static ClEnvironment* environment() { return testEnvironment(); }

    /// A host image of `type` whose values count up from 1 (wrapping).
    static std::unique_ptr<MemImage> rampImage(int type, int w, int h, int s, int c)
    {
        std::unique_ptr<MemImage> image(MemImage::create(type, w, h, s, c));
        auto* bytes = static_cast<unsigned char*>(image->data());
        for (std::size_t i = 0; i < image->byteSize(); ++i)
            bytes[i] = static_cast<unsigned char>(i * 7 + 1);
        return image;
    }

    static std::vector<unsigned char> bytesOf(const Image& image)
    {
        const auto* bytes = static_cast<const unsigned char*>(image.data());
        return std::vector<unsigned char>(bytes, bytes + image.byteSize());
    }

    template <typename T>
    static T imageInfo(const ClImage& image, cl_image_info param)
    {
        T value{};
        clGetImageInfo(image.memObject(), param, sizeof value, &value, nullptr);
        return value;
    }
};

struct Shape {
    int kind;
    int type;
    int width, height, slices, channels;
};

TEST_F(ClImageTest, WholeImagesRoundTripThroughDeviceMemory)
{
    const Shape shapes[] = {
        {ClMemoryKind::Buffer, PixelType::UnsignedByte, 5, 3, 1, 3},
        {ClMemoryKind::Buffer, PixelType::Double, 7, 1, 1, 1},
        {ClMemoryKind::Buffer, PixelType::Float, 4, 3, 2, 2},
        {ClMemoryKind::ImageObject, PixelType::Float, 5, 3, 1, 1},
        {ClMemoryKind::ImageObject, PixelType::UnsignedByte, 3, 2, 1, 4},
        {ClMemoryKind::ImageObject, PixelType::UnsignedShort, 4, 3, 2, 1},
        {ClMemoryKind::ImageObject, PixelType::Int, 2, 2, 3, 4},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(testing::Message() << "kind " << shape.kind << " type " << shape.type
                                        << " channels " << shape.channels);
        const auto host = rampImage(shape.type, shape.width, shape.height, shape.slices,
                                    shape.channels);
        host->shift = 2.5;
        host->scale = 0.5;
        ClImage device(shape.kind, ClMemoryAccess::ReadWrite, *host, nullptr, 0, 0,
                       environment());
        EXPECT_EQ(device.location(), ImageLocation::OpenCL);
        EXPECT_EQ(device.data(), nullptr);
        ASSERT_TRUE(device.write(host->data(), host->byteSize()));

        const std::unique_ptr<MemImage> copy = device.download();
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->type, shape.type);
        EXPECT_EQ(copy->elementCount(), host->elementCount());
        EXPECT_EQ(copy->shift, 2.5);
        EXPECT_EQ(copy->scale, 0.5);
        EXPECT_EQ(bytesOf(*copy), bytesOf(*host));
    }
}

TEST_F(ClImageTest, OneSliceMakesATwoDimensionalImageObject)
{
    const Image flat(PixelType::Float, 4, 3, 1, 1);
    const Image deep(PixelType::Float, 4, 3, 2, 1);
    ClImage image2D(ClMemoryKind::ImageObject, ClMemoryAccess::ReadOnly, flat, nullptr, 0, 0,
                    environment());
    ClImage image3D(ClMemoryKind::ImageObject, ClMemoryAccess::ReadOnly, deep, nullptr, 0, 0,
                    environment());

    cl_mem_object_type type = 0;
    clGetMemObjectInfo(image2D.memObject(), CL_MEM_TYPE, sizeof type, &type, nullptr);
    EXPECT_EQ(type, static_cast<cl_mem_object_type>(CL_MEM_OBJECT_IMAGE2D));
    clGetMemObjectInfo(image3D.memObject(), CL_MEM_TYPE, sizeof type, &type, nullptr);
    EXPECT_EQ(type, static_cast<cl_mem_object_type>(CL_MEM_OBJECT_IMAGE3D));
    EXPECT_EQ(imageInfo<std::size_t>(image3D, CL_IMAGE_DEPTH), 2u);
    EXPECT_EQ(image2D.kind(), DataKind::Image2D);
    EXPECT_EQ(image3D.kind(), DataKind::Volume);
}

TEST_F(ClImageTest, HostDataInitialisesReadOnlyMemory)
{
    for (int kind : {ClMemoryKind::ImageObject, ClMemoryKind::Buffer}) {
        const auto host = rampImage(PixelType::UnsignedByte, 4, 4, 1, 4);
        ClImage device(kind, ClMemoryAccess::ReadOnly, *host, host->data(), 0, 0, environment());
        const auto copy = device.download();
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(bytesOf(*copy), bytesOf(*host)) << "kind " << kind;
    }
}

TEST_F(ClImageTest, ImageObjectsRefuseUnsupportedHeaders)
{
    struct Case {
        int type;
        int channels;
        const char* message;
    };
    const Case cases[] = {
        {PixelType::Float, 3, "Only 1, 2 and 4-channel OpenCL images are supported"},
        {PixelType::UnsignedByte, 5, "Only 1, 2 and 4-channel OpenCL images are supported"},
        {PixelType::Double, 1, "Double OpenCL images are not supported"},
    };
    for (const Case& c : cases) {
        const Image header(c.type, 4, 4, 1, c.channels);
        LogCapture log;
        EXPECT_EQ(thrownBy([&] {
                      ClImage(ClMemoryKind::ImageObject, ClMemoryAccess::ReadWrite, header,
                              nullptr, 0, 0, environment());
                  }),
                  c.message);
        EXPECT_TRUE(log.contains(std::string("ERROR ") + c.message));

        // A buffer has no format: the same header is fine.
        ClImage buffer(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite, header, nullptr, 0, 0,
                       environment());
        std::size_t size = 0;
        clGetMemObjectInfo(buffer.memObject(), CL_MEM_SIZE, sizeof size, &size, nullptr);
        EXPECT_EQ(size, header.byteSize());
    }
}

TEST_F(ClImageTest, FormatThatDoesNotHoldTheElementsIsRefusedAndReleased)
{
    const Image header(PixelType::Float, 4, 4, 1, 1);
    const cl_uint references = contextReferences(environment());
    EXPECT_EQ(thrownBy([&] {
                  ClImage(ClMemoryKind::ImageObject, ClMemoryAccess::ReadWrite, header, nullptr,
                          CL_RGBA, CL_FLOAT, environment());
              }),
              "OpenCL image format doesn't match the image's elements");
    EXPECT_EQ(contextReferences(environment()), references);
}

TEST_F(ClImageTest, FailedCreationIsLoggedWithItsCode)
{
    const Image empty(PixelType::Float, 0, 1, 1, 1);
    LogCapture log;
    EXPECT_EQ(thrownBy([&] {
                  ClImage(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite, empty, nullptr, 0, 0,
                          environment());
              }),
              "Couldn't create OpenCL buffer");
    EXPECT_EQ(log.countStartingWith("ERROR Couldn't create OpenCL buffer ("), 1u);
    EXPECT_EQ(thrownBy([&] {
                  ClImage(ClMemoryKind::ImageObject, ClMemoryAccess::ReadWrite, empty, nullptr,
                          0, 0, environment());
              }),
              "Couldn't create OpenCL image");
    EXPECT_EQ(log.countStartingWith("ERROR Couldn't create OpenCL image ("), 1u);
}

TEST_F(ClImageTest, DepthFormatFallsBackToAnEquivalentChannelOrder)
{
    // Depth frames are 16-bit intensities; devices without CL_INTENSITY get
    // CL_R, which kernels read the same way through the first channel.
    const auto host = rampImage(PixelType::UnsignedShort, 8, 4, 1, 1);
    ClImage device(ClMemoryKind::ImageObject, ClMemoryAccess::ReadOnly, *host, host->data(),
                   CL_INTENSITY, CL_UNORM_INT16, environment());
    const auto format = imageInfo<cl_image_format>(device, CL_IMAGE_FORMAT);
    EXPECT_TRUE(format.image_channel_order == CL_INTENSITY || format.image_channel_order == CL_R);
    EXPECT_EQ(format.image_channel_data_type, static_cast<cl_channel_type>(CL_UNORM_INT16));
    const auto copy = device.download();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(bytesOf(*copy), bytesOf(*host));
}

TEST_F(ClImageTest, BufferReadsTakeRangesWithinBothSides)
{
    std::vector<float> values(16);
    std::iota(values.begin(), values.end(), 0.0f);
    ClImage buffer(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite,
                   Image(PixelType::Float, 16, 1, 1, 1), values.data(), 0, 0, environment());

    std::vector<float> all(16, -1.0f);
    EXPECT_TRUE(buffer.read(all.data(), sizeof(float) * all.size()));
    EXPECT_EQ(all, values);

    std::vector<float> part(3, -1.0f);
    EXPECT_TRUE(buffer.read(part.data(), sizeof(float) * part.size(), sizeof(float) * 3,
                            sizeof(float) * 5));
    EXPECT_EQ(part, (std::vector<float>{5, 6, 7}));

    std::vector<float> tail(2, -1.0f);
    EXPECT_TRUE(buffer.read(tail.data(), sizeof(float) * tail.size(), 0, sizeof(float) * 14));
    EXPECT_EQ(tail, (std::vector<float>{14, 15}));

    LogCapture log;
    EXPECT_FALSE(buffer.read(all.data(), sizeof(float) * all.size(), sizeof(float) * 4,
                             sizeof(float) * 13));
    EXPECT_FALSE(buffer.read(all.data(), sizeof(float) * all.size(), 0, sizeof(float) * 17));
    EXPECT_FALSE(buffer.read(part.data(), sizeof(float) * part.size()));
    EXPECT_FALSE(buffer.write(part.data(), sizeof(float) * part.size()));
    EXPECT_EQ(log.lines().size(), 4u);
}

TEST_F(ClImageTest, ImageObjectsOnlyReadWhole)
{
    const auto host = rampImage(PixelType::Float, 4, 4, 1, 1);
    ClImage image(ClMemoryKind::ImageObject, ClMemoryAccess::ReadWrite, *host, host->data(), 0,
                  0, environment());
    std::vector<float> destination(16);
    LogCapture log;
    EXPECT_FALSE(image.read(destination.data(), sizeof(float) * 16, 1));
    EXPECT_TRUE(log.contains("ERROR Reading partial images not supported"));
    EXPECT_FALSE(image.read(destination.data(), sizeof(float) * 15));
    EXPECT_TRUE(image.read(destination.data(), sizeof(float) * 16));
    EXPECT_EQ(std::memcmp(destination.data(), host->data(), host->byteSize()), 0);
}

TEST_F(ClImageTest, DownloadIntoChecksTheDestination)
{
    const auto host = rampImage(PixelType::Float, 4, 2, 1, 1);
    ClImage device(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite, *host, host->data(), 0, 0,
                   environment());
    TypedImage<float> tooSmall(0, 3, 2, 1, 1);
    TypedImage<double> otherWidth(0, 2, 2, 1, 1);  // same byte count, other element width
    TypedImage<float> fits(0, 8, 1, 1, 1);

    LogCapture log;
    EXPECT_FALSE(device.downloadInto(nullptr));
    EXPECT_FALSE(device.downloadInto(&tooSmall));
    EXPECT_FALSE(device.downloadInto(&otherWidth));
    EXPECT_EQ(log.countStartingWith("ERROR Download destination"), 3u);
    EXPECT_TRUE(device.downloadInto(&fits));
    EXPECT_EQ(bytesOf(fits), bytesOf(*host));
}

TEST_F(ClImageTest, NonBlockingReadCompletesWithItsEvent)
{
    const auto host = rampImage(PixelType::UnsignedByte, 64, 64, 1, 1);
    ClImage device(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite, *host, host->data(), 0, 0,
                   environment());
    std::unique_ptr<ClEvent> done;
    const auto copy = device.download(false, nullptr, &done);
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(done, nullptr);
    ASSERT_NE(done->id(), nullptr);
    const cl_event handle = done->id();
    ASSERT_EQ(clWaitForEvents(1, &handle), CL_SUCCESS);
    EXPECT_EQ(bytesOf(*copy), bytesOf(*host));
}

TEST_F(ClImageTest, SubBufferIsAWindowOnItsParent)
{
    std::vector<float> values(128);
    std::iota(values.begin(), values.end(), 0.0f);
    ClImage parent(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite,
                   Image(PixelType::Float, 128, 1, 1, 1), values.data(), 0, 0, environment());
    const auto window = ClImage::subBuffer(ClMemoryAccess::ReadWrite, parent, 256, 256, 64, 1, 1,
                                           1, environment());
    EXPECT_EQ(window->type, PixelType::Float);
    EXPECT_EQ(window->width, 64);
    EXPECT_EQ(window->memoryKind(), ClMemoryKind::Buffer);

    std::vector<float> seen(64);
    ASSERT_TRUE(window->read(seen.data(), sizeof(float) * seen.size()));
    EXPECT_EQ(seen, std::vector<float>(values.begin() + 64, values.end()));

    const std::vector<float> zeros(64, 0.0f);
    ASSERT_TRUE(window->write(zeros.data(), sizeof(float) * zeros.size()));
    std::vector<float> whole(128);
    ASSERT_TRUE(parent.read(whole.data(), sizeof(float) * whole.size()));
    EXPECT_EQ(std::vector<float>(whole.begin(), whole.begin() + 64),
              std::vector<float>(values.begin(), values.begin() + 64));
    EXPECT_EQ(std::vector<float>(whole.begin() + 64, whole.end()), zeros);
}

TEST_F(ClImageTest, SubBuffersNeedABufferParentAndARegionInside)
{
    const Image header(PixelType::Float, 64, 1, 1, 1);
    ClImage image(ClMemoryKind::ImageObject, ClMemoryAccess::ReadWrite, header, nullptr, 0, 0,
                  environment());
    ClImage buffer(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite, header, nullptr, 0, 0,
                   environment());
    LogCapture log;
    EXPECT_EQ(thrownBy([&] {
                  ClImage::subBuffer(ClMemoryAccess::WriteOnly, image, 0, 64, 16, 1, 1, 1,
                                     environment());
              }),
              "Sub-buffers only exist for OpenCL buffers");
    EXPECT_EQ(thrownBy([&] {
                  ClImage::subBuffer(ClMemoryAccess::WriteOnly, buffer, 256, 256, 64, 1, 1, 1,
                                     environment());
              }),
              "Couldn't create OpenCL sub-buffer");
    EXPECT_EQ(log.countStartingWith("ERROR Couldn't create OpenCL sub-buffer ("), 1u);
}

}  // namespace
}  // namespace Veltrane
