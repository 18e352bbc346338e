#include "render/GlImageObject.h"

#include "core/SharedImage.h"
#include "core/SharedImageSet.h"
#include "core/TypedImage.h"

#include <gtest/gtest.h>

namespace Veltrane {
namespace {

class ImageObject : public GlImageObject {
public:
    void draw() override {}
};

SharedImage* newImage()
{
    return new SharedImage(new TypedImage<unsigned char>(PixelType::UnsignedByte, 2, 2, 1, 1),
                           true);
}

TEST(GlImageObject, ForeignSetsStayTheirOwnersOwnSetsGoWithTheObject)
{
    SharedImageSet foreign(false);
    std::unique_ptr<SharedImage> image(newImage());
    foreign.add(image.get());
    {
        ImageObject object;
        SharedImageSet* own = object.images();
        ASSERT_TRUE(own && object.ownsImages());

        object.setImages(nullptr);  // empties the own set in place
        EXPECT_EQ(object.images(), own);

        object.setImages(&foreign);  // the own set is deleted
        EXPECT_EQ(object.images(), &foreign);
        EXPECT_FALSE(object.ownsImages());

        object.setImages(nullptr);  // a new own set; the foreign one untouched
        EXPECT_NE(object.images(), &foreign);
        EXPECT_TRUE(object.ownsImages());
        EXPECT_EQ(object.images()->size(), 0);
        EXPECT_EQ(foreign.size(), 1);
    }
    EXPECT_EQ(foreign.get(0), image.get());
}

TEST(GlImageObject, ImageShownAloneInASetOfTheObjectsOwn)
{
    std::unique_ptr<SharedImage> first(newImage());
    std::unique_ptr<SharedImage> second(newImage());
    SharedImageSet foreign(false);
    {
        ImageObject object;
        object.setImages(&foreign);
        object.setImage(first.get());
        EXPECT_TRUE(object.ownsImages());
        object.setImage(second.get());
        ASSERT_EQ(object.images()->size(), 1);
        EXPECT_EQ(object.images()->get(0), second.get());
        EXPECT_EQ(foreign.size(), 0);
    }
    // The set went with the object (the leak checker watches it); the images
    // are the caller's.
    EXPECT_EQ(second->width(), 2);
}

}  // namespace
}  // namespace Veltrane
