#include "render/GlTextureParameters.h"

#include "core/GlImage.h"
#include "testsupport/GlTest.h"

#include <GL/glew.h>

#include <array>

namespace Veltrane {
namespace {

using GlTextureParametersTest = GlTest;
using Parameters = std::array<GLint, 5>;

constexpr GLenum kNames[5] = {GL_TEXTURE_MIN_FILTER, GL_TEXTURE_MAG_FILTER, GL_TEXTURE_WRAP_S,
                              GL_TEXTURE_WRAP_T, GL_TEXTURE_WRAP_R};

Parameters boundParameters(GLenum target)
{
    Parameters values{};
    for (int i = 0; i < 5; ++i)
        glGetTexParameteriv(target, kNames[i], &values[i]);
    return values;
}

void setBoundParameters(GLenum target, const Parameters& values)
{
    for (int i = 0; i < 5; ++i)
        glTexParameteri(target, kNames[i], values[i]);
}

const Parameters kOriginal = {GL_LINEAR_MIPMAP_NEAREST, GL_NEAREST, GL_MIRRORED_REPEAT,
                              GL_CLAMP_TO_BORDER, GL_REPEAT};

TEST_F(GlTextureParametersTest, ImageGuardSetsAndRestoresTheFiveParameters)
{
    GlImage volume(PixelType::UnsignedByte, 4, 4, 4, 1);
    volume.bind(0);
    setBoundParameters(GL_TEXTURE_3D, kOriginal);
    volume.unbind();
    {
        GlTextureParameterGuard guard(&volume, GL_NEAREST, GL_CLAMP_TO_EDGE);
        GLint bound = -1;
        glGetIntegerv(GL_TEXTURE_BINDING_3D, &bound);
        EXPECT_EQ(bound, 0);
        volume.bind(0);
        EXPECT_EQ(boundParameters(GL_TEXTURE_3D),
                  (Parameters{GL_NEAREST, GL_NEAREST, GL_CLAMP_TO_EDGE, GL_CLAMP_TO_EDGE,
                              GL_CLAMP_TO_EDGE}));
        setTextureParameters(GL_TEXTURE_3D, GL_LINEAR, GL_REPEAT);
        volume.unbind();
    }
    volume.bind(0);
    EXPECT_EQ(boundParameters(GL_TEXTURE_3D), kOriginal);
    volume.unbind();
}

TEST_F(GlTextureParametersTest, TargetGuardWorksOnTheBoundTexture)
{
    GlImage image(PixelType::UnsignedByte, 4, 4, 1, 4);
    image.bind(0);
    setBoundParameters(GL_TEXTURE_2D, kOriginal);
    {
        GlTextureParameterGuard guard(GL_TEXTURE_2D, GL_LINEAR, GL_REPEAT);
        EXPECT_EQ(boundParameters(GL_TEXTURE_2D),
                  (Parameters{GL_LINEAR, GL_LINEAR, GL_REPEAT, GL_REPEAT, GL_REPEAT}));
    }
    EXPECT_EQ(boundParameters(GL_TEXTURE_2D), kOriginal);
    image.unbind();
}

}  // namespace
}  // namespace Veltrane
