#include "render/GlMesh.h"

#include "core/GlImage.h"
#include "core/Mesh.h"
#include "core/SharedImage.h"
#include "render/GlProgram.h"

#include <GL/glew.h>

#include <cstdint>
#include <vector>

namespace Veltrane {
namespace {

constexpr int vectorBytes = 3 * sizeof(float);

/// The four client arrays a mesh draw uses, put back as they were found.
class ClientArrayState {
public:
    ClientArrayState()
    {
        for (int i = 0; i < 4; ++i)
            m_enabled[i] = glIsEnabled(arrays[i]) == GL_TRUE;
    }
    ~ClientArrayState()
    {
        for (int i = 0; i < 4; ++i) {
            if (m_enabled[i])
                glEnableClientState(arrays[i]);
            else
                glDisableClientState(arrays[i]);
        }
    }
    ClientArrayState(const ClientArrayState&) = delete;
    ClientArrayState& operator=(const ClientArrayState&) = delete;

private:
    static constexpr GLenum arrays[4] = {GL_VERTEX_ARRAY, GL_COLOR_ARRAY, GL_NORMAL_ARRAY,
                                         GL_TEXTURE_COORD_ARRAY};
    bool m_enabled[4] = {};
};

/// Ambient, diffuse and specular of `face` as `color` scaled by the factors,
/// with opacity `alpha`, and its shininess.
void setMaterial(GLenum face, const std::array<float, 3>& color, const GlMesh& mesh)
{
    const auto scaled = [&](float factor) {
        return std::array<GLfloat, 4>{color[0] * factor, color[1] * factor, color[2] * factor,
                                      mesh.alpha};
    };
    glMaterialfv(face, GL_AMBIENT, scaled(mesh.ambientFactor).data());
    glMaterialfv(face, GL_DIFFUSE, scaled(mesh.diffuseFactor).data());
    glMaterialfv(face, GL_SPECULAR, scaled(mesh.specularFactor).data());
    glMaterialf(face, GL_SHININESS, mesh.shininess);
}

void appendVector(std::vector<float>& data, const Eigen::Vector3d& v)
{
    data.push_back(static_cast<float>(v.x()));
    data.push_back(static_cast<float>(v.y()));
    data.push_back(static_cast<float>(v.z()));
}

const void* bufferOffset(int bytes)
{
    return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(bytes));
}

}  // namespace

GlMeshVertexLayout::GlMeshVertexLayout(bool normals, bool texCoords, bool colors)
    : stride(vectorBytes * (1 + normals + texCoords + colors)),
      normalOffset(vectorBytes),
      texCoordOffset(vectorBytes * (1 + normals)),
      colorOffset(vectorBytes * (1 + normals + texCoords))
{
}

GlMesh::GlMesh(const Mesh* mesh) : mesh(mesh)
{
    setMesh();
}

GlVector GlMesh::center() const
{
    if (!mesh)
        return {0.0, 0.0, 0.0};
    const Eigen::Vector3d c = mesh->boundingBoxCenter();
    return {c.x(), c.y(), c.z()};
}

GlVector GlMesh::extent() const
{
    if (!mesh)
        return {0.0, 0.0, 0.0};
    const Eigen::Vector3d& e = mesh->boundingBoxExtent();
    return {e.x(), e.y(), e.z()};
}

GlMeshVertexLayout GlMesh::layout() const
{
    return GlMeshVertexLayout(m_hasNormals, m_hasTexCoords, m_hasColors);
}

void GlMesh::setMesh()
{
    if (!mesh)
        return;
    m_vertexCount = 0;
    if (!mesh->isValid()) {
        m_vertexBuffer.upload(nullptr, 0);
        return;
    }
    m_hasNormals = !mesh->normalIndices().empty();
    m_hasTexCoords = !mesh->texCoordIndices().empty();
    m_hasColors = !mesh->colorIndices().empty();

    const auto& faces = mesh->faces();
    std::vector<float> data;
    data.reserve(faces.size() * 3 * static_cast<std::size_t>(layout().stride) / sizeof(float));
    for (std::size_t f = 0; f < faces.size(); ++f) {
        for (int k = 0; k < 3; ++k) {
            appendVector(data, mesh->vertices()[faces[f][k]]);
            if (m_hasNormals)
                appendVector(data, mesh->normals()[mesh->normalIndices()[f][k]]);
            if (m_hasTexCoords)
                appendVector(data, mesh->texCoords()[mesh->texCoordIndices()[f][k]]);
            if (m_hasColors)
                appendVector(data, mesh->colors()[mesh->colorIndices()[f][k]]);
        }
    }
    m_vertexCount = static_cast<int>(faces.size() * 3);
    m_vertexBuffer.upload(data.data(), data.size() * sizeof(float));
}

void GlMesh::setLighting() const
{
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, 1);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 1);
    const GLfloat white[] = {1.0f, 1.0f, 1.0f, 1.0f};
    glLightfv(GL_LIGHT0, GL_AMBIENT, white);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT0, GL_SPECULAR, white);
    // Set in eye coordinates: the light comes from the viewer, wherever the
    // camera is.
    const GLfloat fromViewer[] = {0.0f, 0.0f, 1.0f, 0.0f};
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glLightfv(GL_LIGHT0, GL_POSITION, fromViewer);
    glPopMatrix();
}

void GlMesh::setMaterials(bool colorMaterial) const
{
    const GlColor c = color();
    const std::array<float, 3> front = {static_cast<float>(c[0]), static_cast<float>(c[1]),
                                        static_cast<float>(c[2])};
    if (colorMaterial) {
        // The vertex colours are the front diffuse colour.
        glColorMaterial(GL_FRONT, GL_DIFFUSE);
        glEnable(GL_COLOR_MATERIAL);
        const GLfloat black[] = {0.0f, 0.0f, 0.0f, 1.0f};
        glMaterialfv(GL_FRONT, GL_AMBIENT, black);
        glMaterialfv(GL_FRONT, GL_SPECULAR, black);
        glMaterialf(GL_FRONT, GL_SHININESS, 0.0f);
    } else {
        setMaterial(GL_FRONT, front, *this);
    }
    setMaterial(GL_BACK, {1.0f - front[0], 1.0f - front[1], 1.0f - front[2]}, *this);
}

void GlMesh::drawTriangles() const
{
    glDrawArrays(GL_TRIANGLES, 0, m_vertexCount);
}

void GlMesh::draw()
{
    if (!mesh || !visible() || (renderMode == MeshRenderMode::Program && !program))
        return;
    const bool textured = renderMode == MeshRenderMode::Textured;
    const bool colorMaterial = textured && m_hasColors && !m_hasTexCoords;

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_TEXTURE_1D);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_TEXTURE_3D);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_NORMALIZE);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);

    GlImage* texture = textured && mesh->texture() ? mesh->texture()->gl() : nullptr;
    if (texture) {
        glEnable(GL_TEXTURE_2D);
        texture->bind(0);
        glEnable(GL_CULL_FACE);
        glCullFace(GL_BACK);
    }
    if (renderMode == MeshRenderMode::Wireframe) {
        glDisable(GL_LIGHTING);
        glColor3d(0.0, 0.0, 0.0);
        glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    }
    setLighting();
    if (renderMode != MeshRenderMode::Wireframe)
        setMaterials(colorMaterial);
    if (renderMode == MeshRenderMode::Program) {
        // The preview programs read the annotation colour where the mesh
        // brings no colours of its own.
        const GlColor c = color();
        glColor4d(c[0], c[1], c[2], alpha);
    }

    {
        const GlModelMatrixScope model(m_matrix);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glEnable(GL_BLEND);
        glEnable(GL_MULTISAMPLE);
        const ClientArrayState clientArrays;
        const GlMeshVertexLayout vertex = layout();
        m_vertexBuffer.bind();
        glEnableClientState(GL_VERTEX_ARRAY);
        glDisableClientState(GL_COLOR_ARRAY);
        glDisableClientState(GL_NORMAL_ARRAY);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glVertexPointer(3, GL_FLOAT, vertex.stride, bufferOffset(0));
        if (m_hasNormals) {
            glEnableClientState(GL_NORMAL_ARRAY);
            glNormalPointer(GL_FLOAT, vertex.stride, bufferOffset(vertex.normalOffset));
        }
        if (m_hasTexCoords) {
            glEnableClientState(GL_TEXTURE_COORD_ARRAY);
            glTexCoordPointer(3, GL_FLOAT, vertex.stride, bufferOffset(vertex.texCoordOffset));
        } else if (m_hasColors && (textured || renderMode == MeshRenderMode::Program)) {
            glEnableClientState(GL_COLOR_ARRAY);
            glColorPointer(3, GL_FLOAT, vertex.stride, bufferOffset(vertex.colorOffset));
            glDisable(GL_LIGHTING);
            if (textured) {
                glEnable(GL_CULL_FACE);
                glCullFace(GL_BACK);
            }
        }

        if (renderMode == MeshRenderMode::Program) {
            program->bind();
            drawTriangles();
            program->unbind();
        } else {
            drawTriangles();
        }

        if (colorMaterial && drawBackFaces) {
            glEnable(GL_LIGHTING);
            glCullFace(GL_FRONT);
            drawTriangles();
            glDisable(GL_CULL_FACE);
        }
        if (texture && drawBackFaces) {
            glDisable(GL_TEXTURE_2D);
            texture->unbind();
            glCullFace(GL_FRONT);
            drawTriangles();
            glDisable(GL_CULL_FACE);
        }
        if (renderMode == MeshRenderMode::SurfaceAndWireframe) {
            glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
            glEnable(GL_POLYGON_OFFSET_LINE);
            glPolygonOffset(0.0f, -250.0f);
            glDisable(GL_LIGHTING);
            glColor3d(0.0, 0.0, 0.0);
            drawTriangles();
        }
        GlBuffer::unbind();
    }
    glPopAttrib();
}

}  // namespace Veltrane
