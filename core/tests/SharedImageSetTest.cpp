#include "core/SharedImageSet.h"

#include "core/SharedImage.h"
#include "core/TypedImage.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace Veltrane {
namespace {

SharedImage* sharedImage(int slices = 1)
{
    return new SharedImage(new TypedImage<float>(0, 4, 3, slices, 1), true);
}

struct ChangeCounter : DataListener {
    int changes = 0;
    void dataChanged(Data*) override { ++changes; }
};

TEST(SharedImageSet, RemovesElementsDestroyedElsewhereAndClampsTheFocus)
{
    SharedImageSet set(false);
    std::vector<std::unique_ptr<SharedImage>> images;
    for (int i = 0; i < 3; ++i) {
        images.emplace_back(sharedImage());
        set.add(images.back().get());
    }
    set.setFocus(2);
    EXPECT_EQ(set.get(), images[2].get());

    images[0].reset();
    ASSERT_EQ(set.size(), 2);
    EXPECT_EQ(set.selection().focus, 1);
    EXPECT_EQ(set.get(7), images[2].get());
    EXPECT_EQ(set.get(-1), images[2].get());
    EXPECT_EQ(set.get(0), images[1].get());
}

TEST(SharedImageSet, ListenersHearOfEffectiveChangesOnly)
{
    SharedImageSet set(true);
    for (int i = 0; i < 3; ++i)
        set.add(sharedImage());
    ChangeCounter counter;
    set.addListener(&counter);

    set.setSelection(Selection(0, 2, 0, 1));
    EXPECT_EQ(counter.changes, 1);
    set.setSelection(Selection(0, 2, 0, 1));
    EXPECT_EQ(counter.changes, 1) << "same four values";
    set.setSelection(Selection(0, 9, 0, 1));
    EXPECT_EQ(counter.changes, 1) << "clamped to the same four values";
    set.setFocus(1);
    EXPECT_EQ(counter.changes, 1);
    set.setFocus(8);
    EXPECT_EQ(set.selection().focus, 2);
    EXPECT_EQ(counter.changes, 2);
    set.removeListener(&counter);
}

TEST(SharedImageSet, KindFollowsTheElements)
{
    SharedImageSet set(true);
    EXPECT_EQ(set.kind(), DataKind::Empty);
    set.add(sharedImage(4));
    EXPECT_EQ(set.kind(), DataKind::Volume);
    set.add(sharedImage(4));
    EXPECT_EQ(set.kind(), DataKind::VolumeSet);
    set.setImage(sharedImage(1));
    EXPECT_EQ(set.kind(), DataKind::Image2D);
    set.add(sharedImage(4));
    EXPECT_EQ(set.kind(), DataKind::ImageSet);
}

TEST(SharedImageSet, DeletesAnElementAddedTwiceOnce)
{
    SharedImageSet set(true);
    SharedImage* image = sharedImage();
    set.add(image);
    set.add(image);
    set.add(nullptr);
    EXPECT_EQ(set.size(), 2);
    set.clear();  // a second delete would be caught by the sanitizers
    EXPECT_EQ(set.size(), 0);
}

TEST(SharedImageSet, DefaultRequestsStayInsideAShorterList)
{
    SharedImageSet set(true);
    for (int i = 0; i < 3; ++i)
        set.add(sharedImage());
    set.setFocus(2);
    SharedImage* only = sharedImage();
    set.setImage(only);
    set.setImage(only);
    EXPECT_EQ(set.size(), 1);
    EXPECT_EQ(set.selection().focus, 2) << "refilling leaves the selection alone";
    EXPECT_EQ(set.get(), only);
    EXPECT_EQ(set.memPointer(), only->memPointer());
    EXPECT_EQ(set.glPointer(), nullptr);
}

TEST(SharedImageSet, EmptySetAnswersWithNullAndIdentity)
{
    SharedImageSet set(false);
    EXPECT_EQ(set.get(), nullptr);
    EXPECT_EQ(set.gl(), nullptr);
    EXPECT_EQ(set.memPointer(3), nullptr);
    EXPECT_EQ(set.matrixPointer(), nullptr);
    EXPECT_EQ(set.matrix(), Eigen::Matrix4d::Identity());
    set.setMatrix(Eigen::Matrix4d::Zero());
    EXPECT_EQ(set.matrix(), Eigen::Matrix4d::Identity());
}

TEST(SharedImageSet, MatricesBelongToTheElements)
{
    SharedImageSet set(true);
    set.add(sharedImage());
    set.add(sharedImage());
    Eigen::Matrix4d moved = Eigen::Matrix4d::Identity();
    moved(0, 3) = 25.0;
    set.setMatrix(moved, 1);
    EXPECT_EQ(set.get(1)->matrix(), moved);
    EXPECT_EQ(set.matrix(0), Eigen::Matrix4d::Identity());
    (*set.matrixPointer(0))(1, 3) = 5.0;
    EXPECT_EQ(set.get(0)->matrix()(1, 3), 5.0);
}

TEST(SharedImageSet, ElementsOutliveASetThatDoesNotOwnThem)
{
    auto image = std::unique_ptr<SharedImage>(sharedImage());
    {
        SharedImageSet set(false);
        set.add(image.get());
    }
    EXPECT_TRUE(image->listeners().empty());
    image.reset();  // must not reach the destroyed set
}

}  // namespace
}  // namespace Veltrane
