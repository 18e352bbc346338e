#include "render/GlMeshView.h"

#include "core/Mesh.h"
#include "render/GlBoundingBox.h"
#include "render/GlMesh.h"
#include "render/GlProgram.h"

#include <GL/glew.h>

#include <Eigen/LU>

#include <algorithm>

namespace Veltrane {

GlMeshView::GlMeshView()
    : mesh(std::make_unique<GlMesh>(nullptr)),
      cropBox(std::make_unique<GlBoundingBox>()),
      m_cropProgram(std::make_unique<GlProgram>("CropMeshFragment", "CropMeshVertex")),
      m_cleanProgram(std::make_unique<GlProgram>("CleanMeshFragment", "CleanMeshVertex"))
{
    addObject(mesh.get());
    addObject(cropBox.get());
}

GlMeshView::~GlMeshView() = default;

void GlMeshView::resize(int width, int height)
{
    if (width != 0 && height != 0)
        m_aspect = static_cast<double>(width) / height;
}

void GlMeshView::setCropBox(const GlVector& center, const GlVector& extent)
{
    cropBox->setCenter(center);
    cropBox->setExtent(extent);
}

bool GlMeshView::render()
{
    drawBackground();
    loadCamera(60.0, m_aspect);
    glEnable(GL_DEPTH_TEST);
    drawMesh();
    glEnable(GL_DEPTH_TEST);
    m_viewState.capture();
    for (GlObject* object : m_objects)
        if (object != mesh.get() && object != cropBox.get())
            object->draw();
    if (showGrid && mesh->mesh)
        drawGrid();
    return true;
}

void GlMeshView::drawMesh()
{
    if (!cleanPreview && !cropMode) {
        mesh->draw();
        return;
    }
    const int renderMode = mesh->renderMode;
    mesh->renderMode = MeshRenderMode::Program;
    if (cleanPreview) {
        m_cleanProgram->bind();
        m_cleanProgram->setUniformFloat("minConnected", minConnected);
        m_cleanProgram->setUniformFloat("maxConnected", maxConnected);
        mesh->program = m_cleanProgram.get();
        mesh->draw();
        m_cleanProgram->unbind();
    } else {
        const Eigen::Matrix4d boxToWorld = Eigen::Map<const Eigen::Matrix4d>(
            cropBox->matrix().data());
        const Eigen::Matrix4d worldToBox = boxToWorld.inverse();
        m_cropProgram->bind();
        m_cropProgram->setUniformVec3d("bbCenter", cropBox->center().data());
        m_cropProgram->setUniformVec3d("bbExtent", cropBox->extent().data());
        m_cropProgram->setUniformMat4d("bbTransformInv", worldToBox.data());
        m_cropProgram->unbind();
        mesh->program = m_cropProgram.get();
        mesh->draw();
        cropBox->draw();
    }
    mesh->renderMode = renderMode;
}

void GlMeshView::drawGrid() const
{
    const Mesh& shown = *mesh->mesh;
    const Eigen::Vector3d center = shown.boundingBoxCenter();
    const Eigen::Vector3d& extent = shown.boundingBoxExtent();
    const double y = shown.boundingBoxMin().y() + extent.y();  // the floor: y points down
    const double s = 2.0f * static_cast<float>(std::max(extent.x(), extent.z()));

    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT | GL_LINE_BIT | GL_CURRENT_BIT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_LINE_SMOOTH);
    glDisable(GL_LIGHTING);
    glBegin(GL_LINES);
    glColor4d(0.7, 0.7, 0.7, 0.5);
    // 21 lines each way, s / 10 apart, from -s to s.
    for (int line = -10; line <= 10; ++line) {
        const double u = line * 0.1 * s;
        glVertex3d(center.x() + u, y, center.z() + s);
        glVertex3d(center.x() + u, y, center.z() - s);
        glVertex3d(center.x() + s, y, center.z() + u);
        glVertex3d(center.x() - s, y, center.z() + u);
    }
    glEnd();
    glPopAttrib();
}

}  // namespace Veltrane
