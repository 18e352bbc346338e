#include "render/GlProgram.h"

#include "RenderTestSupport.h"
#include "core/GlImage.h"
#include "core/GlObjectRelease.h"
#include "core/MemImage.h"
#include "render/GlFramebuffer.h"
#include "testsupport/GlTest.h"
#include "testsupport/LogCapture.h"

#include <GL/glew.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace Veltrane {
namespace {

using GlProgramTest = GlTest;

TEST(SourceWithDefines, PutsTheDefinesAfterAnyVersionLine)
{
    const std::string defines = "#define A\n#define B\n";
    const struct {
        const char* source;
        std::string expected;
    } cases[] = {
        {"void main() {}\n", defines + "void main() {}\n"},
        {"#version 120\nvoid main() {}\n", "#version 120\n" + defines + "void main() {}\n"},
        {"// note\n/* block\n */\n  #version 120\nx\n",
         "// note\n/* block\n */\n  #version 120\n" + defines + "x\n"},
        {"#version 120", "#version 120\n" + defines},
        {"x\n#version 120\n", defines + "x\n#version 120\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sourceWithDefines(c.source, defines), c.expected) << c.source;
    EXPECT_EQ(sourceWithDefines("#version 120\nx\n", ""), "#version 120\nx\n");
}

TEST_F(GlProgramTest, EveryProgramOfTheSystemBuildsWithEachOfItsDefines)
{
    const struct {
        const char* fragment;
        const char* vertex;
        const char* defines;
    } programs[] = {
        {"CropMeshFragment", "CropMeshVertex", nullptr},
        {"CleanMeshFragment", "CleanMeshVertex", nullptr},
        {"PointCloudFragment", "PointCloudVertex", "#define COLOR_MAP\n"},
        {"PointCloudFragment", "PointCloudVertex", nullptr},
        {"DepthMapVis", nullptr, nullptr},
        {"SliceView", nullptr, nullptr},
        {"SliceView", nullptr, "#define SLICE3D\n#define CUBIC\n#define MASK\n"},
        {"SliceView", nullptr, "#define CUBIC\n"},
        {"SliceView", nullptr, "#define SLICE3D\n#define MASK\n"},
        {"Increment", "Histogram", nullptr},
        {"TexelFetch", nullptr, nullptr},
        {"TexelFetch", nullptr, "#define IS3D\n"},
    };
    for (const auto& p : programs) {
        SCOPED_TRACE(std::string(p.fragment) + " " + (p.defines ? p.defines : ""));
        LogCapture log;
        std::unique_ptr<GlProgram> program;
        EXPECT_NO_THROW(program = std::make_unique<GlProgram>(p.fragment, p.vertex, nullptr,
                                                               p.defines));
        EXPECT_TRUE(log.lines().empty()) << log.lines().front();
    }
}

TEST_F(GlProgramTest, FragmentStageAloneLinksWithTheFixedFunctionVertexStage)
{
    GlProgram program("TexelFetch", nullptr);
    EXPECT_EQ(program.shaders().size(), 1u);
    GLint linked = GL_FALSE;
    glGetProgramiv(program.program(), GL_LINK_STATUS, &linked);
    EXPECT_EQ(linked, GL_TRUE);
}

TEST_F(GlProgramTest, MissingShaderIsLoggedAndThrown)
{
    LogCapture log;
    try {
        GlProgram program("TexelFetch", "NoSuchShader");
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Missing shader");
    }
    EXPECT_EQ(log.lines(), std::vector<std::string>{"ERROR Could not load shader program NoSuchShader"});
}

TEST_F(GlProgramTest, ShaderThatDoesNotCompileFailsTheLink)
{
    LogCapture log;
    try {
        GlProgram program("TexelFetch", nullptr, nullptr, "this is not GLSL\n");
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Error creating shader program");
    }
    EXPECT_TRUE(log.contains("ERROR Error compiling shader TexelFetch"));
    EXPECT_EQ(log.countStartingWith("INFO Shader info log: "), 1u);
    EXPECT_TRUE(log.contains("ERROR Error linking GLSL program!"));
}

float uniformFloat(const GlProgram& program, const char* name, int component)
{
    GLfloat values[16] = {};
    glGetUniformfv(program.program(), glGetUniformLocation(program.program(), name), values);
    return values[component];
}

TEST_F(GlProgramTest, SameDefinesKeepTheUniformsOtherDefinesRelink)
{
    GlProgram program("TexelFetch", nullptr);
    const std::vector<unsigned> shaders = program.shaders();
    program.bind();
    const float pos[3] = {0.25f, 0.5f, 0.75f};
    program.setUniformVec3("pos", pos);

    program.setDefines("");
    EXPECT_FLOAT_EQ(uniformFloat(program, "pos", 1), 0.5f);

    program.setDefines("#define IS3D\n");
    EXPECT_EQ(program.defines(), "#define IS3D\n");
    EXPECT_FLOAT_EQ(uniformFloat(program, "pos", 1), 0.0f) << "not relinked";
    EXPECT_EQ(program.shaders(), shaders);
    GLint attached = 0;
    glGetProgramiv(program.program(), GL_ATTACHED_SHADERS, &attached);
    EXPECT_EQ(attached, 1);
    program.unbind();
}

TEST_F(GlProgramTest, DoubleSettersConvertWithoutTransposing)
{
    GlProgram program("DepthMapVis", nullptr);
    program.bind();
    double matrix[16];
    for (int i = 0; i < 16; ++i)
        matrix[i] = i + 0.5;
    program.setUniformMat4d("T", matrix);
    const double size[3] = {100.0, 200.0, 300.0};
    program.setUniformVec3d("volSize", size);
    program.setUniformFloat("noSuchUniform", 1.0f);
    EXPECT_FLOAT_EQ(uniformFloat(program, "T", 1), 1.5f);
    EXPECT_FLOAT_EQ(uniformFloat(program, "T", 12), 12.5f);
    EXPECT_FLOAT_EQ(uniformFloat(program, "volSize", 2), 300.0f);
    program.unbind();
}

GLint boundTexture2D(int unit)
{
    glActiveTexture(GL_TEXTURE0 + unit);
    GLint texture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    glActiveTexture(GL_TEXTURE0);
    return texture;
}

TEST_F(GlProgramTest, TextureUnitsCountUpAndStartOverAfterRelease)
{
    GlProgram program("SliceView", nullptr, nullptr, "#define MASK\n");
    GlImage image(PixelType::UnsignedByte, 4, 4, 1, 1);
    GlImage mask(PixelType::UnsignedByte, 4, 4, 1, 1);
    program.bind();
    program.setTexture("img", &image);
    program.setOptionalTexture("colormap", nullptr);
    program.setTexture("mask", &mask);
    EXPECT_EQ(program.textureCount(), 2);
    EXPECT_EQ(boundTexture2D(0), static_cast<GLint>(image.texture()));
    EXPECT_EQ(boundTexture2D(1), static_cast<GLint>(mask.texture()));
    GLint unit = -1;
    glGetUniformiv(program.program(), glGetUniformLocation(program.program(), "mask"), &unit);
    EXPECT_EQ(unit, 1);

    program.releaseTextures();
    EXPECT_EQ(program.textureCount(), 0);
    EXPECT_EQ(boundTexture2D(0), 0);
    EXPECT_EQ(boundTexture2D(1), 0);

    program.setTexture("mask", &mask);
    EXPECT_EQ(boundTexture2D(0), static_cast<GLint>(mask.texture()));
    program.releaseTextures();
    program.unbind();
}

TEST_F(GlProgramTest, ObjectsDestroyedWithoutAContextAreDeletedInItLater)
{
    auto program = std::make_unique<GlProgram>("TexelFetch", nullptr);
    const GLuint name = program->program();
    const GLuint shader = program->shaders().front();
    GlTestContext::runWithoutContext([&] { program.reset(); });
    EXPECT_TRUE(glIsProgram(name));
    collectReleasedGlObjects();
    EXPECT_FALSE(glIsProgram(name));
    EXPECT_FALSE(glIsShader(shader));
}

/// A small float framebuffer to draw a program's output into. (Made before
/// the program's textures are bound: making a texture unbinds unit 0.)
class FloatTarget {
public:
    FloatTarget() : m_target(PixelType::Float, 2, 2, 1, 4) {}

    /// Covers the target with `program`, which is bound with its textures
    /// set, then releases them; returns the colour of pixel (0, 0). Every
    /// fragment gets `texCoord` as its texture coordinate.
    std::array<float, 4> draw(GlProgram& program, const std::array<float, 4>& texCoord = {})
    {
        glMultiTexCoord4fv(GL_TEXTURE0, texCoord.data());
        m_framebuffer.bind();
        m_framebuffer.attach(&m_target, 0);
        m_framebuffer.setDrawBuffers();
        glViewport(0, 0, 2, 2);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glRectf(-1.0f, -1.0f, 1.0f, 1.0f);
        m_framebuffer.detachColor(0);
        m_framebuffer.unbind();
        program.releaseTextures();
        program.unbind();
        std::unique_ptr<MemImage> pixels(m_target.download());
        return {static_cast<float>(pixels->value(0)), static_cast<float>(pixels->value(1)),
                static_cast<float>(pixels->value(2)), static_cast<float>(pixels->value(3))};
    }

private:
    GlImage m_target;
    GlFramebuffer m_framebuffer;
};

TEST_F(GlProgramTest, TexelFetchReadsTheTexelAtItsCentre)
{
    // Four texels; the last one is read back: (1, 1) of a 2 x 2 image,
    // (0, 1, 1) of a 1 x 2 x 2 volume.
    const float texels[4 * 4] = {0.1f, 0.2f, 0.3f, 1.0f, 0.4f, 0.5f, 0.6f, 1.0f,
                                 0.7f, 0.8f, 0.9f, 1.0f, 0.25f, 0.5f, 0.75f, 1.0f};
    GlImage image(PixelType::Float, 2, 2, 1, 4, GL_RGBA32F, texels);
    GlImage volume(PixelType::Float, 1, 2, 2, 4, GL_RGBA32F, texels);
    for (const bool is3d : {false, true}) {
        SCOPED_TRACE(is3d ? "volume" : "image");
        FloatTarget target;
        GlProgram program("TexelFetch", nullptr, nullptr, is3d ? "#define IS3D\n" : nullptr);
        program.bind();
        program.setTexture("tex", is3d ? &volume : &image);
        const float pos[3] = {is3d ? 0.5f : 0.75f, 0.75f, 0.75f};
        program.setUniformVec3("pos", pos);
        const auto value = target.draw(program);
        EXPECT_FLOAT_EQ(value[0], 0.25f);
        EXPECT_FLOAT_EQ(value[1], 0.5f);
        EXPECT_FLOAT_EQ(value[2], 0.75f);
    }
}

TEST_F(GlProgramTest, SliceProgramWindowsMasksAndTints)
{
    // Texel (1, 0) holds 0.6 in a 2 x 2 image (and in slice 1 of a volume);
    // window 0.5 at level 0.5 maps it to 0.7.
    const float values[4] = {0.2f, 0.6f, 0.6f, 0.6f};
    const float constant[8] = {0.6f, 0.6f, 0.6f, 0.6f, 0.6f, 0.6f, 0.6f, 0.6f};
    const float maskValues[4] = {1.0f, 0.0f, 1.0f, 1.0f};
    const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    const float tint[4] = {0.0f, 0.8f, 1.0f, 1.0f};
    const struct {
        const char* defines;
        const float* blendColor;
        Rgb expected;  // in hundredths
    } cases[] = {
        {"", white, {70, 70, 70}},
        {"#define CUBIC\n", white, {70, 70, 70}},  // on a constant image
        {"#define MASK\n", white, {21, 21, 21}},   // masked out: darkened
        {"", tint, {0, 56, 70}},
        {"#define SLICE3D\n#define CUBIC\n", white, {70, 70, 70}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.defines);
        const bool cubic = std::string(c.defines).find("CUBIC") != std::string::npos;
        const bool volume = std::string(c.defines).find("SLICE3D") != std::string::npos;
        FloatTarget target;
        GlImage image(PixelType::Float, 2, 2, volume ? 2 : 1, 1, GL_LUMINANCE32F_ARB,
                      cubic ? constant : values);
        GlImage mask(PixelType::Float, 2, 2, 1, 1, GL_LUMINANCE32F_ARB, maskValues);
        GlProgram program("SliceView", nullptr, nullptr, c.defines);
        program.bind();
        program.setTexture("img", &image);
        program.setTexture("mask", &mask);
        program.setUniformInt("colormap", 2);
        program.setUniformInt("useColormap", 0);
        program.setUniformFloat("scale", 2.0f);
        program.setUniformFloat("shift", -0.5f);
        program.setUniformFloat("gamma", 1.0f);
        const float dimensions[3] = {2.0f, 2.0f, volume ? 2.0f : 1.0f};
        program.setUniformVec3("imgDim", dimensions);
        program.setUniformVec4("blendColor", c.blendColor);
        const auto color = target.draw(program, {0.75f, 0.25f, 0.75f, 1.0f});
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(color[i] * 100.0f, c.expected[i], 0.5f) << i;
    }
}

TEST_F(GlProgramTest, DepthMapProgramTintsTheDepthInsideTheVolume)
{
    // A 2 x 2 depth image, 1000 mm everywhere but texel (0, 0); the camera
    // matrix of a 2 x 2 frame with fx = fy = 2, cx = cy = 1, turned into one
    // for image coordinates 0 ... 1: texel (1, 1) sees (250, 250, 1000).
    const unsigned short depth[4] = {0, 1000, 1000, 1000};
    const float invK[9] = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, -0.5f, -0.5f, 1.0f};
    const struct {
        float volumeZ;
        std::array<float, 4> texCoord;
        Rgb expected;  // in hundredths
    } cases[] = {
        {1000.0f, {0.75f, 0.75f, 0.0f, 1.0f}, {40, 73, 47}},  // inside: tinted green
        {3000.0f, {0.75f, 0.75f, 0.0f, 1.0f}, {55, 55, 55}},  // outside: grey
        {1000.0f, {0.25f, 0.25f, 0.0f, 1.0f}, {0, 0, 0}},     // no depth: black
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.volumeZ);
        FloatTarget target;
        GlImage image(PixelType::UnsignedShort, 2, 2, 1, 1, GL_LUMINANCE16, depth);
        GlProgram program("DepthMapVis", nullptr);
        program.bind();
        program.setTexture("img", &image);
        program.setUniformInt("colormap", 1);
        program.setUniformInt("useColormap", 0);
        // Depths 0 ... 1818 mm to grey 0 ... 1.
        program.setUniformFloat("scale", 65535.0f / 1818.0f);
        program.setUniformFloat("shift", 0.0f);
        program.setUniformFloat("gamma", 1.0f);
        const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
        program.setUniformVec4("blendColor", white);
        program.setUniformMat3("invK", invK);
        const float T[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, c.volumeZ, 1};
        program.setUniformMat4("T", T);
        program.setUniformFloat("volMinDepth", (c.volumeZ - 200.0f) / 65535.0f);
        program.setUniformFloat("volMaxDepth", (c.volumeZ + 200.0f) / 65535.0f);
        const float size[3] = {600.0f, 600.0f, 600.0f};
        program.setUniformVec3("volSize", size);
        const auto color = target.draw(program, c.texCoord);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(color[i] * 100.0f, c.expected[i], 1.0f) << i;
    }
}

/// Counts `image` into `bins` bins with the histogram programs, the way the
/// GPU histogram does.
std::vector<float> histogram(const GlImage& image, int bins)
{
    GlProgram program("Increment", "Histogram");
    GlImage counts(PixelType::Float, bins, 1, 1, 1, GL_R32F);
    GlFramebuffer framebuffer;
    framebuffer.bind();
    framebuffer.attach(&counts, 0, 0);
    glViewport(0, 0, bins, 1);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);

    program.bind();
    program.setTexture("tex_image2D", const_cast<GlImage*>(&image));
    program.setUniformInt("tex_image3D", 1);
    program.setUniformInt("tex_image1D", 2);
    program.setUniformInt("img_width", image.width);
    program.setUniformInt("img_height", image.height);
    program.setUniformInt("img_depth", image.slices);
    program.setUniformInt("numChannels", image.channels);
    program.setUniformInt("bins", bins);
    program.setUniformInt("idOffset", 0);
    std::vector<int> points;
    for (int k = 0; k < image.width * image.height; ++k)
        points.insert(points.end(), {k + 1, 0});
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(2, GL_INT, 0, points.data());
    glDrawArrays(GL_POINTS, 0, image.width * image.height);
    glDisableClientState(GL_VERTEX_ARRAY);
    program.releaseTextures();
    program.unbind();
    glPopAttrib();
    framebuffer.detachColor(0);
    framebuffer.unbind();

    std::unique_ptr<MemImage> values(counts.download());
    std::vector<float> result(static_cast<std::size_t>(bins));
    for (int i = 0; i < bins; ++i)
        result[static_cast<std::size_t>(i)] = static_cast<float>(values->value(i));
    return result;
}

TEST_F(GlProgramTest, HistogramProgramsCountEachSampleIntoItsBin)
{
    const unsigned char grey[4] = {0, 128, 255, 128};
    GlImage greyImage(PixelType::UnsignedByte, 2, 2, 1, 1, GL_LUMINANCE8, grey);
    std::vector<float> expected(256, 0.0f);
    expected[0] = 1.0f;
    expected[128] = 2.0f;
    expected[255] = 1.0f;
    EXPECT_EQ(histogram(greyImage, 256), expected);

    const unsigned char colours[4 * 3] = {255, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0, 0};
    GlImage colourImage(PixelType::UnsignedByte, 2, 2, 1, 3, GL_RGB8, colours);
    const std::vector<float> counts = histogram(colourImage, 256);
    EXPECT_EQ(counts[85], 1.0f) << "mean of (255, 0, 0)";
    EXPECT_EQ(counts[255], 1.0f);
    EXPECT_EQ(counts[0], 2.0f);
}

}  // namespace
}  // namespace Veltrane
