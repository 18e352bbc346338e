#include "render/GpuHistogram.h"

#include "core/GlError.h"
#include "core/GlImage.h"
#include "core/Logging.h"
#include "core/MemImage.h"
#include "core/SharedImage.h"
#include "render/GlFramebuffer.h"
#include "render/GlProgram.h"
#include "render/GlStateScopes.h"

#include <GL/glew.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace Veltrane {
namespace {

/// The value that stands for 1 in an image of element type `type`.
double typeMaximum(int type)
{
    switch (type) {
    case PixelType::Byte: return 127.0;
    case PixelType::UnsignedByte: return 255.0;
    case PixelType::Short: return 32767.0;
    case PixelType::UnsignedShort: return 65535.0;
    case PixelType::Int: return 2147483647.0;
    case PixelType::UnsignedInt: return 4294967295.0;
    default: return 1.0;
    }
}

/// The bin at bin coordinate `x`, rounded down; outside values (and NaN) go to
/// the first or the last bin.
int binAt(double x, int bins)
{
    if (!(x >= 0.0))
        return 0;
    return x >= bins - 1 ? bins - 1 : static_cast<int>(x);
}

}  // namespace

GpuHistogram::GpuHistogram(int bins)
    : m_program(std::make_unique<GlProgram>("Increment", "Histogram")),
      m_framebuffer(std::make_unique<GlFramebuffer>())
{
    setBins(bins);
}

GpuHistogram::~GpuHistogram() = default;

void GpuHistogram::setBins(int bins)
{
    bins = std::max(bins, 1);
    if (bins == m_bins)
        return;
    m_bins = bins;
    const std::vector<float> zeros(static_cast<std::size_t>(bins), 0.0f);
    m_result = std::make_unique<SharedImage>(
        new GlImage(PixelType::Float, bins, 1, 1, 1, GL_R32F, zeros.data()), true);
    m_result->syncMem();
}

bool GpuHistogram::compute(SharedImage* image, int useGpu)
{
    if (!image)
        return false;
    if (useGpu == 1 && GLEW_ARB_color_buffer_float)
        return computeGpu(image->glPointer());
    return computeCpu(image->memPointer());
}

bool GpuHistogram::computeCpu(const MemImage* image)
{
    if (!image || !image->data())
        return false;
    float* counts = static_cast<float*>(m_result->mem()->data());
    const double maximum = typeMaximum(image->type);
    const double last = m_bins - 1;
    const std::size_t channels = static_cast<std::size_t>(image->channels);
    const std::size_t values = image->elementCount();
    for (std::size_t p = 0; p < values; p += channels) {
        // Sum times bins over the maximum: exact for integer elements, so a
        // mean that lands on a bin boundary is not rounded below it.
        const double x = channels >= 3
                             ? (image->value(p) + image->value(p + 1) + image->value(p + 2)) *
                                   last / (3.0 * maximum)
                             : image->value(p) * last / maximum + 0.5;
        ++counts[binAt(x, m_bins)];
    }
    m_sampleCount += static_cast<long long>(values / channels);
    m_result->setMemModified();
    return true;
}

bool GpuHistogram::computeGpu(GlImage* image)
{
    if (!image)
        return false;
    if (image->width == 0 || image->height == 0 || image->slices == 0)
        return true;
    const GlTargetScope target;
    const GlAttributeScope attributes(GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT | GL_POINT_BIT,
                                      GL_CLIENT_VERTEX_ARRAY_BIT);
    bool counted = true;
    try {
        m_result->sync();
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_SCISSOR_TEST);
        glDisable(GL_POINT_SMOOTH);
        glDisable(GL_VERTEX_PROGRAM_POINT_SIZE);
        glPointSize(1.0f);
        checkGlError();
        m_framebuffer->bind();
        m_framebuffer->attach(m_result->glPointer(), 0, 0);
        m_framebuffer->setDrawBuffers();
        glViewport(0, 0, m_bins, 1);
        drawPoints(image);
    } catch (const std::runtime_error&) {
        counted = false;
    }
    m_program->releaseTextures();
    m_framebuffer->detachColor(0);
    if (!counted)
        return false;
    m_sampleCount += static_cast<long long>(image->width) * image->height * image->slices;
    m_result->setGlModified();
    return true;
}

void GpuHistogram::drawPoints(GlImage* image)
{
    m_program->bind();
    // Samplers of different types must not share a unit: the image takes
    // unit 0, the two unused samplers units 1 and 2.
    static const char* const samplers[3] = {"tex_image1D", "tex_image2D", "tex_image3D"};
    const int used = image->dimension() - 1;
    m_program->setTexture(samplers[used], image);
    for (int sampler = 0, unit = 1; sampler < 3; ++sampler)
        if (sampler != used)
            m_program->setUniformInt(samplers[sampler], unit++);
    const int width = image->width;
    const int height = image->height;
    m_program->setUniformInt("img_width", width);
    m_program->setUniformInt("img_height", height);
    m_program->setUniformInt("img_depth", image->slices);
    m_program->setUniformInt("numChannels", image->channels);
    m_program->setUniformInt("bins", m_bins);

    preparePoints(width * height);
    glEnableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(2, GL_INT, 0, nullptr);
    for (int z = 0; z < image->slices; ++z) {
        m_program->setUniformInt("idOffset", z * width * height);
        glDrawArrays(GL_POINTS, 0, width * height);
        glFinish();
    }
    checkGlError();
}

void GpuHistogram::preparePoints(int count)
{
    m_pointBuffer.bind();
    if (count == m_pointCount)
        return;
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(count) * 2 * sizeof(std::int32_t),
                 nullptr, GL_STATIC_READ);
    auto* points = static_cast<std::int32_t*>(glMapBuffer(GL_ARRAY_BUFFER, GL_WRITE_ONLY));
    if (!points) {
        m_pointCount = 0;
        checkGlError();
        VELTRANE_ERROR("GpuHistogram: the point buffer cannot be mapped");
        throw std::runtime_error("OpenGL error");
    }
    for (int k = 0; k < count; ++k) {
        points[2 * k] = k + 1;
        points[2 * k + 1] = 0;
    }
    glUnmapBuffer(GL_ARRAY_BUFFER);
    m_pointCount = count;
}

std::vector<float> GpuHistogram::counts() const
{
    const MemImage* counts = m_result->mem();
    const float* first = static_cast<const float*>(counts->data());
    return {first, first + m_bins};
}

}  // namespace Veltrane
