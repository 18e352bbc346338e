#pragma once

#include "render/GlAnnotation.h"
#include "render/GlBuffer.h"

namespace Veltrane {

class GlProgram;
class Mesh;

/// How a `GlMesh` draws its mesh.
namespace MeshRenderMode {
constexpr int Textured = 0;             ///< vertex colours, or the mesh's texture
constexpr int Surface = 1;              ///< lit surface in the annotation colour
constexpr int SurfaceAndWireframe = 2;  ///< Surface with black edges over it
constexpr int Wireframe = 3;            ///< black edges only
constexpr int Program = 4;              ///< through `GlMesh::program`
}  // namespace MeshRenderMode

/// Byte layout of one vertex in a `GlMesh` buffer: three floats of position,
/// then three floats each of normal, texture coordinate and colour for the
/// attributes present, in that order.
struct GlMeshVertexLayout {
    GlMeshVertexLayout(bool normals, bool texCoords, bool colors);

    int stride;
    int normalOffset;    ///< meaningful only with normals
    int texCoordOffset;  ///< meaningful only with texture coordinates
    int colorOffset;     ///< meaningful only with colours
};

/// Draws a triangle mesh from one interleaved vertex buffer, three vertices
/// per face in face order, in one of the `MeshRenderMode`s.
///
/// Lighting is one white directional light from the viewer. Front faces take
/// the annotation colour as material (ambient, diffuse and specular by their
/// factors); back faces are lit in the complementary colour, so the inside of
/// an open surface stands out. In `Textured` mode a mesh with vertex colours
/// shows them unlit on its front faces (they come from the camera and hold
/// their own shading) and, with `drawBackFaces`, its back faces lit in the
/// back material; a textured mesh is drawn textured, its back faces
/// untextured.
///
/// Owners assign `mesh` and call setMesh() with the view's context current;
/// the buffer is rebuilt only then. The mesh is not owned and must outlive
/// its use here.
class GlMesh : public Gl3DObject {
public:
    /// Builds the buffer from `mesh` (may be null).
    explicit GlMesh(const Mesh* mesh);

    void draw() override;
    /// Centre and extent of the bounding box stored in the mesh (not
    /// recomputed); zero without a mesh.
    GlVector center() const override;
    GlVector extent() const override;

    /// Rebuilds the buffer from `mesh`. Without a mesh nothing changes; an
    /// invalid mesh (`Mesh::isValid`) leaves an empty buffer and the attribute
    /// flags as they were.
    void setMesh();

    int vertexCount() const { return m_vertexCount; }
    bool hasNormals() const { return m_hasNormals; }
    bool hasTexCoords() const { return m_hasTexCoords; }
    bool hasColors() const { return m_hasColors; }
    GlMeshVertexLayout layout() const;
    const GlBuffer& vertexBuffer() const { return m_vertexBuffer; }

    const Mesh* mesh;
    float alpha = 1.0f;  ///< opacity of every material colour
    float specularFactor = 0.2f;
    float diffuseFactor = 0.7f;
    float ambientFactor = 0.1f;
    float shininess = 10.0f;
    bool drawBackFaces = true;  ///< the back-face pass of `Textured` mode
    int renderMode = MeshRenderMode::Textured;
    /// Used in `Program` mode only; not owned. Without it that mode draws
    /// nothing.
    GlProgram* program = nullptr;

private:
    void setLighting() const;
    void setMaterials(bool colorMaterial) const;
    void drawTriangles() const;

    GlBuffer m_vertexBuffer;
    int m_vertexCount = 0;
    bool m_hasNormals = false;
    bool m_hasTexCoords = false;
    bool m_hasColors = false;
};

}  // namespace Veltrane
