#include "render/GlTexelReader.h"

#include "core/GlError.h"
#include "core/GlImage.h"
#include "core/GlObjectRelease.h"
#include "render/GlBuffer.h"
#include "render/GlFramebuffer.h"
#include "render/GlProgram.h"
#include "render/GlStateScopes.h"
#include "render/GlViewState.h"

#include <GL/glew.h>

#include <string>

namespace Veltrane {
namespace {

std::string fetchDefines(const GlImage& image)
{
    if (image.slices > 1)
        return "#define IS3D\n";
    return image.height < 2 ? "#define IS1D\n" : "";
}

/// Takes the read's texture and target off again and loads the caller's
/// matrices back, also when the read throws.
struct Unbinding {
    GlProgram& program;
    GlFramebuffer& framebuffer;
    const GlViewState& view;

    ~Unbinding()
    {
        program.releaseTextures();
        framebuffer.detachColor(0);
        view.apply();
    }
};

/// Two triangles covering the unit square.
constexpr float kSquare[12] = {0, 0, 0, 1, 1, 1, 1, 1, 1, 0, 0, 0};

}  // namespace

GlTexelReader::GlTexelReader() = default;
GlTexelReader::~GlTexelReader() = default;

GlTexelReader& GlTexelReader::instance()
{
    // Destroyed at exit; the OpenGL objects then go through the deferred
    // release, which deletes nothing without their context current.
    static GlTexelReader reader;
    return reader;
}

std::array<float, 3> GlTexelReader::texelCentre(const Image& image, int x, int y, int z)
{
    return {(x + 0.5f) / static_cast<float>(image.width),
            (y + 0.5f) / static_cast<float>(image.height),
            (z + 0.5f) / static_cast<float>(image.slices)};
}

std::array<float, 4> GlTexelReader::read(GlImage* image, int x, int y, int z)
{
    const QPointer<QObject> context = currentGlOwner(GlObjectType::Framebuffer);
    if (context != m_context) {
        m_program.reset();
        m_framebuffer.reset();
        m_target.reset();
        m_context = context;
    }
    if (!m_framebuffer)
        m_framebuffer = std::make_unique<GlFramebuffer>();
    const std::string defines = fetchDefines(*image);
    try {
        if (m_program)
            m_program->setDefines(defines);
        else
            m_program =
                std::make_unique<GlProgram>("TexelFetch", nullptr, nullptr, defines.c_str());
    } catch (...) {
        m_program.reset();
        throw;
    }
    if (!m_target)
        m_target = std::make_unique<GlImage>(PixelType::Float, 2, 2, 1, 4);

    const GlViewState view(true);
    const GlTargetScope target;
    const GlAttributeScope attributes(
        GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_TRANSFORM_BIT | GL_TEXTURE_BIT,
        GL_CLIENT_VERTEX_ARRAY_BIT | GL_CLIENT_PIXEL_STORE_BIT);
    const Unbinding unbinding{*m_program, *m_framebuffer, view};
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    const std::array<float, 3> pos = texelCentre(*image, x, y, z);
    m_program->bind();
    m_program->setTexture("tex", image);
    m_program->setUniformVec3("pos", pos.data());

    m_framebuffer->bind();
    glViewport(0, 0, 1, 1);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, 1.0, 0.0, 1.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    GlBuffer::unbind();
    glEnableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, kSquare);
    m_framebuffer->attach(m_target.get(), 0, 0);
    m_framebuffer->setDrawBuffers();
    glDrawArrays(GL_TRIANGLES, 0, 6);
    std::array<float, 4> values{};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 1, 1, GL_RGBA, GL_FLOAT, values.data());
    checkGlError();
    return values;
}

}  // namespace Veltrane
