#include "render/GlPointCloudView.h"

#include "core/GlImage.h"
#include "core/Logging.h"
#include "core/MemImage.h"
#include "render/GlProgram.h"
#include "render/GlTextureParameters.h"

#include <GL/glew.h>

#include <algorithm>
#include <new>
#include <vector>

namespace Veltrane {
namespace {

/// The inverse of a 3x3 matrix by cofactors; either storage order gives the
/// inverse in the same order.
std::array<float, 9> inverse3x3(const std::array<float, 9>& k)
{
    const float det = k[0] * (k[4] * k[8] - k[5] * k[7]) + k[1] * (k[5] * k[6] - k[3] * k[8]) +
                      k[2] * (k[3] * k[7] - k[4] * k[6]);
    return {(k[4] * k[8] - k[5] * k[7]) / det, (k[2] * k[7] - k[1] * k[8]) / det,
            (k[1] * k[5] - k[2] * k[4]) / det, (k[5] * k[6] - k[3] * k[8]) / det,
            (k[0] * k[8] - k[2] * k[6]) / det, (k[2] * k[3] - k[0] * k[5]) / det,
            (k[3] * k[7] - k[4] * k[6]) / det, (k[1] * k[6] - k[0] * k[7]) / det,
            (k[0] * k[4] - k[1] * k[3]) / det};
}

/// Makes `held` a copy of `frame`, in place when type and channels agree.
void copyFrame(std::unique_ptr<MemImage>& held, const MemImage* frame)
{
    if (!held || !held->assign(frame))
        held.reset(frame->clone());
}

}  // namespace

GlPointCloudView::GlPointCloudView()
    : m_program(std::make_unique<GlProgram>("PointCloudFragment", "PointCloudVertex", nullptr,
                                            "#define COLOR_MAP\n")),
      m_depthTexture(std::make_unique<GlImage>(PixelType::UnsignedShort, 2, 2, 1, 1)),
      m_colorTexture(std::make_unique<GlImage>(PixelType::UnsignedByte, 2, 2, 1, 1))
{
}

GlPointCloudView::~GlPointCloudView() = default;

void GlPointCloudView::resize(int width, int height)
{
    if (width == 0 || height == 0)
        return;
    GlView::resize(width, height);
    m_aspect = static_cast<double>(width) / height;
}

void GlPointCloudView::setFrame(const MemImage* depth, const MemImage* color, const float K[9])
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    copyFrame(m_depthFrame, depth);
    if (color)
        copyFrame(m_colorFrame, color);
    m_hasColor = color != nullptr;
    std::copy(K, K + 9, m_K.begin());
    m_newData = true;
}

void GlPointCloudView::clearFrame()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_depthFrame.reset();
    m_colorFrame.reset();
}

void GlPointCloudView::setVolumeSize(const float size[3])
{
    std::copy(size, size + 3, m_volSize.begin());
}

void GlPointCloudView::setVolumeTransform(const float transform[16])
{
    std::copy(transform, transform + 16, m_T.begin());
}

bool GlPointCloudView::render()
{
    bool ready = false;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        ready = m_depthFrame && (!m_newData || uploadFrame());
    }
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    loadCamera(25.0, m_aspect);
    // Also without a frame: the objects' manipulators pick with this camera.
    m_viewState.capture();
    if (ready)
        drawFrame();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    return ready;
}

void GlPointCloudView::drawFrame()
{
    drawBackground();
    const GlTextureParameterGuard depthParameters(m_depthTexture.get(), GL_NEAREST,
                                                  GL_CLAMP_TO_EDGE);
    const GlTextureParameterGuard colorParameters(m_colorTexture.get(), GL_NEAREST,
                                                  GL_CLAMP_TO_EDGE);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    drawPoints();

    glPushAttrib(GL_ENABLE_BIT);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    for (GlObject* object : m_objects)
        object->draw();
    glPopAttrib();
}

bool GlPointCloudView::uploadFrame()
{
    m_depthTexture->update(m_depthFrame.get());
    m_drawColor = m_hasColor && m_colorFrame;
    if (m_drawColor)
        m_colorTexture->update(m_colorFrame.get());
    m_invK = inverse3x3(m_K);
    const int width = m_depthTexture->width;
    const int height = m_depthTexture->height;
    if ((width != m_gridWidth || height != m_gridHeight) && !buildGrid(width, height)) {
        VELTRANE_ERROR("Could not update point cloud maps");
        return false;
    }
    m_newData = false;
    return true;
}

bool GlPointCloudView::buildGrid(int width, int height)
{
    const std::size_t count = static_cast<std::size_t>(width) * height;
    std::vector<float> positions;
    std::vector<float> texCoords;
    try {
        positions.reserve(count * 3);
        texCoords.reserve(count * 2);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            positions.insert(positions.end(), {static_cast<float>(column),
                                               static_cast<float>(row), 1.0f});
            // Texel centres: nearest sampling then never picks a neighbour.
            texCoords.insert(texCoords.end(), {(column + 0.5f) / width, (row + 0.5f) / height});
        }
    }
    m_positionBuffer.upload(positions.data(), positions.size() * sizeof(float));
    m_texCoordBuffer.upload(texCoords.data(), texCoords.size() * sizeof(float));
    m_gridWidth = width;
    m_gridHeight = height;
    return true;
}

void GlPointCloudView::drawPoints()
{
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    m_program->setDefines(m_drawColor ? "#define COLOR_MAP\n" : "");
    m_program->bind();
    m_program->setTexture("texDepthMap", m_depthTexture.get());
    if (m_drawColor)
        m_program->setTexture("texColorMap", m_colorTexture.get());
    m_program->setUniformMat3("invK", m_invK.data());
    m_program->setUniformMat4("T", m_T.data());
    m_program->setUniformFloat("volMinDepth", volMinDepth);
    m_program->setUniformFloat("volMaxDepth", volMaxDepth);
    m_program->setUniformVec3("volSize", m_volSize.data());

    m_positionBuffer.bind();
    glVertexPointer(3, GL_FLOAT, 0, nullptr);
    m_texCoordBuffer.bind();
    glTexCoordPointer(2, GL_FLOAT, 0, nullptr);
    glDrawArrays(GL_POINTS, 0, m_gridWidth * m_gridHeight);
    GlBuffer::unbind();
    m_program->releaseTextures();
    m_program->unbind();
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}

}  // namespace Veltrane
