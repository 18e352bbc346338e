#include "core/SharedImage.h"

#include "core/GlImage.h"
#include "core/TypedImage.h"
#include "testsupport/GlTest.h"
#include "testsupport/LogCapture.h"

#include <memory>
#include <vector>

namespace Veltrane {
namespace {

using Bytes = TypedImage<unsigned char>;

std::vector<unsigned char> valuesOf(const MemImage* image)
{
    const auto* begin = static_cast<const unsigned char*>(image->data());
    return std::vector<unsigned char>(begin, begin + image->byteSize());
}

std::vector<unsigned char> textureValues(const GlImage* texture)
{
    std::unique_ptr<MemImage> download(texture->download());
    return valuesOf(download.get());
}

std::unique_ptr<Bytes> frame(int width, int height, unsigned char seed)
{
    auto image = std::make_unique<Bytes>(0, width, height, 1, 3);
    for (std::size_t i = 0; i < image->elementCount(); ++i)
        image->typedData()[i] = static_cast<unsigned char>(seed + i * 13);
    return image;
}

TEST(SharedImage, BareHeaderBecomesAnOwnedMemoryCopy)
{
    auto* header = new Image(PixelType::UnsignedByte, 640, 480, 1, 3);
    header->spacing = {0.5, 0.25, 2.0};
    SharedImage shared(header, true);  // deletes the header at once
    MemImage* mem = shared.memPointer();
    ASSERT_NE(mem, nullptr);
    EXPECT_EQ(shared.image(), mem);
    EXPECT_EQ(mem->width, 640);
    EXPECT_EQ(mem->channels, 3);
    EXPECT_EQ(mem->spacing, (std::array<double, 3>{0.5, 0.25, 2.0}));
    EXPECT_EQ(shared.kind(), DataKind::Image2D);
    EXPECT_EQ(shared.extent(), (std::array<double, 3>{320.0, 120.0, 2.0}));
    EXPECT_EQ(shared.mem(), mem);
}

TEST(SharedImage, UnownedHeaderIsNotListenedTo)
{
    Image header(PixelType::Float, 4, 4, 1, 1);
    { SharedImage shared(&header, false); }
    EXPECT_TRUE(header.listeners().empty());
}  // destroying the header must not reach the destroyed shared image

TEST(SharedImage, PrimaryImageIsDeletedOnlyWhenOwned)
{
    auto* image = new Bytes(0, 4, 4, 1, 1);
    {
        SharedImage shared(image, false);
        EXPECT_EQ(shared.image(), image);
    }
    EXPECT_TRUE(image->listeners().empty());
    SharedImage owner(image, true);  // the sanitizers catch a leak or a double delete
}

TEST(SharedImage, ImageDestroyedElsewhereIsForgotten)
{
    auto* image = new Bytes(0, 4, 4, 1, 1);
    SharedImage shared(image, false);
    delete image;
    EXPECT_EQ(shared.image(), nullptr);
    EXPECT_EQ(shared.mem(), nullptr);
    EXPECT_EQ(shared.kind(), DataKind::Empty);
    EXPECT_EQ(shared.spacing(), nullptr);
}

TEST(SharedImage, AssignCopiesIntoTheMemoryCopy)
{
    SharedImage shared(new Image(PixelType::UnsignedByte, 5, 3, 1, 3), true);
    auto source = frame(5, 3, 1);
    source->spacing = {3.0, 3.0, 3.0};
    ASSERT_TRUE(shared.assign(source.get(), false));
    EXPECT_EQ(valuesOf(shared.mem()), valuesOf(source.get()));
    EXPECT_EQ(shared.mem()->spacing[0], 1.0) << "assign keeps the copy's spacing";

    const auto floats = std::make_unique<TypedImage<float>>(0, 5, 3, 1, 3);
    EXPECT_FALSE(shared.assign(floats.get(), true));
}

TEST(SharedImage, MatrixIsIdentityUntilSet)
{
    SharedImage shared(new Bytes(0, 2, 2, 1, 1), true);
    EXPECT_EQ(shared.matrix(), Eigen::Matrix4d::Identity());
    Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
    pose(2, 3) = -400.0;
    shared.setMatrix(pose);
    EXPECT_EQ(*shared.matrixPointer(), pose);
    (*shared.matrixPointer())(0, 0) = 2.0;
    EXPECT_EQ(shared.matrix()(0, 0), 2.0);
}

using SharedImageGlTest = GlTest;

TEST_F(SharedImageGlTest, TextureIsUploadedOnlyWhenMemoryChanged)
{
    SharedImage shared(new Image(PixelType::UnsignedByte, 640, 480, 1, 3), true);
    auto first = frame(640, 480, 1);
    shared.memPointer()->copyData(first->data());  // written before the first gl()

    GlImage* texture = shared.gl();
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(textureValues(texture), valuesOf(first.get()));
    const unsigned name = texture->texture();

    auto second = frame(640, 480, 2);
    shared.memPointer()->copyData(second->data());  // not flagged
    EXPECT_EQ(shared.gl(), texture);
    EXPECT_EQ(textureValues(texture), valuesOf(first.get())) << "nothing uploaded";

    shared.setMemModified();
    EXPECT_EQ(shared.gl(), texture);
    EXPECT_EQ(texture->texture(), name);
    EXPECT_EQ(textureValues(texture), valuesOf(second.get()));

    auto third = frame(640, 480, 3);
    ASSERT_TRUE(shared.assign(third.get(), false));
    EXPECT_EQ(textureValues(shared.gl()), valuesOf(third.get()));
}

TEST_F(SharedImageGlTest, TexturePrimaryDownloadsOnceAndAgainWhenFlagged)
{
    auto first = frame(7, 5, 1);
    auto second = frame(7, 5, 2);
    SharedImage shared(new GlImage(first.get()), true);
    EXPECT_FALSE(shared.assign(second.get(), false)) << "no memory copy yet";

    MemImage* mem = shared.mem();
    ASSERT_NE(mem, nullptr);
    EXPECT_EQ(valuesOf(mem), valuesOf(first.get()));

    shared.glPointer()->upload(second->data());  // not flagged
    EXPECT_EQ(shared.mem(), mem);
    EXPECT_EQ(valuesOf(mem), valuesOf(first.get())) << "nothing downloaded";

    shared.setGlModified();
    EXPECT_EQ(valuesOf(shared.mem()), valuesOf(second.get()));
}

TEST_F(SharedImageGlTest, CallersMemoryImageTakesTheTextureInPlace)
{
    auto image = frame(6, 4, 1);
    SharedImage shared(image.get(), false);
    GlImage* texture = shared.gl();
    auto drawn = frame(6, 4, 9);
    texture->upload(drawn->data());
    shared.setGlModified();
    EXPECT_EQ(shared.mem(), image.get());
    EXPECT_EQ(valuesOf(image.get()), valuesOf(drawn.get()));
}

TEST_F(SharedImageGlTest, CopyDestroyedElsewhereIsMadeAgain)
{
    SharedImage shared(frame(4, 4, 1).release(), true);
    delete shared.gl();
    EXPECT_EQ(shared.glPointer(), nullptr);
    GlImage* again = shared.gl();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(textureValues(again), valuesOf(shared.mem()));
}

TEST_F(SharedImageGlTest, ResizeReachesMemoryAndTexture)
{
    SharedImage shared(new Image(PixelType::UnsignedByte, 8, 8, 1, 3), true);
    shared.gl();
    EXPECT_TRUE(shared.resize(16, 4, 1));
    EXPECT_EQ(shared.memPointer()->width, 16);
    EXPECT_EQ(shared.glPointer()->width, 16);
    EXPECT_EQ(shared.glPointer()->height, 4);

    std::vector<unsigned char> pixels(8 * 8 * 3);
    auto wrapped = std::make_unique<Bytes>(0, 8, 8, 1, 3, pixels.data(), false);
    SharedImage wrapper(wrapped.get(), false);
    wrapper.gl();
    EXPECT_FALSE(wrapper.resize(2, 2, 1)) << "a wrapped array cannot be replaced";
    EXPECT_EQ(wrapper.glPointer()->width, 2) << "the texture is resized all the same";
}

}  // namespace
}  // namespace Veltrane
