#include "render/GlColormap.h"

#include "core/MemImage.h"
#include "testsupport/GlTest.h"

#include <GL/glew.h>

#include <memory>

namespace Veltrane {
namespace {

using GlColormapTest = GlTest;

TEST(GlColormap, JetRunsFromDarkBlueToDarkRed)
{
    const std::vector<float> four = colormapValues(1, 4);
    EXPECT_EQ(four, (std::vector<float>{0, 0, 0.5f, 0, 0.5f, 1, 0.5f, 1, 0.5f, 1, 0.5f, 0}));

    const std::vector<float> jet = colormapValues(1, 256);
    ASSERT_EQ(jet.size(), 768u);
    EXPECT_NEAR(jet[765], 0.516f, 0.001f);
    EXPECT_EQ(jet[766], 0.0f);
    EXPECT_EQ(jet[767], 0.0f);
}

TEST(GlColormap, GreyRampAndUnknownTypesRiseFromBlack)
{
    for (int type : {0, 5, -1}) {
        const std::vector<float> grey = colormapValues(type, 4);
        EXPECT_EQ(grey, (std::vector<float>{0, 0, 0, 0.25f, 0.25f, 0.25f, 0.5f, 0.5f, 0.5f, 0.75f,
                                            0.75f, 0.75f}))
            << "type " << type;
    }
}

TEST_F(GlColormapTest, TextureIsOneDimensionalAndHoldsTheValues)
{
    GlColormap map(1, 8);
    EXPECT_EQ(map.target(), static_cast<unsigned>(GL_TEXTURE_1D));
    EXPECT_EQ(map.channels, 3);
    std::unique_ptr<MemImage> values(map.download());
    ASSERT_TRUE(values);
    const std::vector<float> expected = colormapValues(1, 8);
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_FLOAT_EQ(static_cast<float>(values->value(i)), expected[i]) << i;

    GlColormap empty(0, 0);
    EXPECT_EQ(empty.width, 1);
}

}  // namespace
}  // namespace Veltrane
