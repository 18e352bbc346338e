#include "render/GlMesh.h"

#include "RenderTestSupport.h"
#include "core/GlObjectRelease.h"
#include "core/Mesh.h"
#include "core/SharedImage.h"
#include "core/TypedImage.h"
#include "render/GlProgram.h"

#include <GL/glew.h>

#include <string>
#include <vector>

namespace Veltrane {
namespace {

using GlMeshTest = GlTest;

std::vector<float> bufferContents(const GlMesh& glMesh)
{
    glMesh.vertexBuffer().bind();
    GLint bytes = 0;
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &bytes);
    std::vector<float> values(static_cast<std::size_t>(bytes) / sizeof(float));
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, bytes, values.data());
    GlBuffer::unbind();
    return values;
}

TEST_F(GlMeshTest, BufferPacksThePresentAttributesOfEveryFaceCorner)
{
    const struct {
        bool normals, texCoords, colors;
        int stride;
    } cases[] = {
        {true, false, true, 36},  {true, true, true, 48}, {false, false, true, 24},
        {false, true, false, 24}, {false, false, false, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.normals) + std::to_string(c.texCoords) +
                     std::to_string(c.colors));
        Mesh mesh;
        mesh.faces() = {{0, 1, 2}, {2, 1, 3}};
        for (int v = 0; v < 4; ++v) {
            mesh.vertices().emplace_back(v, 10 + v, 20 + v);
            if (c.normals)
                mesh.normals().emplace_back(30 + v, 40 + v, 50 + v);
            if (c.texCoords)
                mesh.texCoords().emplace_back(60 + v, 70 + v, 80 + v);
            if (c.colors)
                mesh.colors().emplace_back(90 + v, 100 + v, 110 + v);
        }
        if (c.normals)
            mesh.normalIndices() = mesh.faces();
        if (c.texCoords)
            mesh.texCoordIndices() = mesh.faces();
        if (c.colors)
            mesh.colorIndices() = mesh.faces();

        const GlMesh glMesh(&mesh);
        EXPECT_EQ(glMesh.vertexCount(), 6);
        EXPECT_EQ(glMesh.layout().stride, c.stride);
        std::vector<float> expected;
        for (const auto& face : mesh.faces()) {
            for (int k = 0; k < 3; ++k) {
                const int v = face[k];
                expected.insert(expected.end(), {float(v), 10.0f + v, 20.0f + v});
                if (c.normals)
                    expected.insert(expected.end(), {30.0f + v, 40.0f + v, 50.0f + v});
                if (c.texCoords)
                    expected.insert(expected.end(), {60.0f + v, 70.0f + v, 80.0f + v});
                if (c.colors)
                    expected.insert(expected.end(), {90.0f + v, 100.0f + v, 110.0f + v});
            }
        }
        EXPECT_EQ(bufferContents(glMesh), expected);
        const GlMeshVertexLayout layout = glMesh.layout();
        if (c.colors) {
            EXPECT_EQ(layout.colorOffset, c.stride - 12);
        }
        if (c.texCoords) {
            EXPECT_EQ(layout.texCoordOffset, c.normals ? 24 : 12);
        }
    }
}

TEST_F(GlMeshTest, InvalidMeshEmptiesTheBufferAndNoMeshKeepsIt)
{
    const Rgb white{255, 255, 255};
    const auto square = squareMesh(&white);
    GlMesh glMesh(square.get());
    ASSERT_EQ(glMesh.vertexCount(), 6);

    glMesh.mesh = nullptr;
    glMesh.setMesh();
    EXPECT_EQ(glMesh.vertexCount(), 6);
    EXPECT_EQ(bufferContents(glMesh).size(), 6u * 9u);

    Mesh broken = *square;
    broken.faces()[1] = {0, 2, 7};
    glMesh.mesh = &broken;
    glMesh.setMesh();
    EXPECT_EQ(glMesh.vertexCount(), 0);
    EXPECT_TRUE(bufferContents(glMesh).empty());
    EXPECT_TRUE(glMesh.hasNormals() && glMesh.hasColors());
}

/// A 2 x 2 single-coloured texture for the square.
Mesh::TexturePtr plainTexture(const Rgb& color)
{
    auto* image = new TypedImage<unsigned char>(PixelType::UnsignedByte, 2, 2, 1, 3);
    for (int i = 0; i < 12; ++i)
        image->typedData()[i] = static_cast<unsigned char>(color[i % 3]);
    return Mesh::TexturePtr(new SharedImage(image, true), [](SharedImage* s) { delete s; });
}

TEST_F(GlMeshTest, RenderModesDrawWhatTheyShow)
{
    // Material colour c; a front face lit head-on shows about c (ambient 0.1,
    // diffuse 0.7, specular 0.2); a back face the same of 1 - c.
    const GlColor material{0.9, 0.5, 0.1};
    const Rgb front{234, 130, 26};
    const Rgb back{26, 130, 234};
    const Rgb vertexColor{50, 200, 120};
    const Rgb black{0, 0, 0};
    const GlVector texCoord{0.5, 0.5, 0.0};
    enum Content { Colors, Plain, Textured };
    const struct {
        const char* name;
        int mode;
        Content content;
        bool turned;  // seen from behind
        bool backFaces;
        Rgb face;      // inside a face
        Rgb diagonal;  // on the edge the two faces share
    } cases[] = {
        {"colours", MeshRenderMode::Textured, Colors, false, true, vertexColor, vertexColor},
        {"colours behind", MeshRenderMode::Textured, Colors, true, true, back, back},
        {"colours behind, no back faces", MeshRenderMode::Textured, Colors, true, false,
         clearColor, clearColor},
        {"plain in textured mode", MeshRenderMode::Textured, Plain, false, true, front, front},
        {"texture", MeshRenderMode::Textured, Textured, false, true, {117, 130, 26},
         {117, 130, 26}},
        {"texture behind", MeshRenderMode::Textured, Textured, true, true, back, back},
        {"surface", MeshRenderMode::Surface, Colors, false, true, front, front},
        {"surface behind", MeshRenderMode::Surface, Colors, true, true, back, back},
        {"surface and wireframe", MeshRenderMode::SurfaceAndWireframe, Colors, false, true,
         front, black},
        {"wireframe", MeshRenderMode::Wireframe, Colors, false, true, clearColor, black},
        {"program without program", MeshRenderMode::Program, Colors, false, true, clearColor,
         clearColor},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto square = squareMesh(c.content == Colors ? &vertexColor : nullptr,
                                 c.content == Textured ? &texCoord : nullptr);
        if (c.content == Textured)
            square->setTexture(plainTexture({128, 255, 255}));
        GlMesh glMesh(square.get());
        glMesh.setColor(material);
        glMesh.renderMode = c.mode;
        glMesh.drawBackFaces = c.backFaces;
        if (c.turned)
            glMesh.setMatrix({-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1});

        GlRenderTarget target(64, 64);
        loadOrthoScene(target, 2.0);
        glTranslated(0.0, 0.0, -5.0);  // so that the specular highlight faces the viewer
        glMesh.draw();
        // The square covers pixels 16 ... 47; its faces meet on the diagonal.
        EXPECT_TRUE(colorNear(pixel(target, 40, 24), c.face, 6)) << "face";
        EXPECT_TRUE(colorNearby(target, 36, 36, c.diagonal, 6)) << "diagonal";
        EXPECT_EQ(pixel(target, 8, 8), clearColor);
    }
}

TEST_F(GlMeshTest, DrawRestoresTheStateItChanges)
{
    const Rgb white{255, 255, 255};
    const auto square = squareMesh(&white);
    GlMesh glMesh(square.get());
    GlRenderTarget target(16, 16);
    loadOrthoScene(target, 2.0);
    glEnableClientState(GL_NORMAL_ARRAY);
    for (const int mode : {0, 1, 2, 3}) {
        glMesh.renderMode = mode;
        glMesh.draw();
        EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
        EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
        EXPECT_FALSE(glIsEnabled(GL_COLOR_ARRAY));
        EXPECT_TRUE(glIsEnabled(GL_NORMAL_ARRAY));
        GLint polygonMode[2] = {};
        glGetIntegerv(GL_POLYGON_MODE, polygonMode);
        EXPECT_EQ(polygonMode[0], GL_FILL);
        GLint buffer = -1, stack = 0;
        glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &buffer);
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &stack);
        EXPECT_EQ(buffer, 0);
        EXPECT_EQ(stack, 1);
    }
    glDisableClientState(GL_NORMAL_ARRAY);
}

TEST_F(GlMeshTest, CentreAndExtentComeFromTheStoredBoundingBox)
{
    Mesh mesh = *squareMesh(nullptr);
    GlMesh glMesh(&mesh);
    EXPECT_EQ(glMesh.center(), (GlVector{0.0, 0.0, 0.0}));
    EXPECT_EQ(glMesh.extent(), (GlVector{2.0, 2.0, 0.0}));
    mesh.vertices()[0].x() = -5.0;  // not recomputed
    EXPECT_EQ(glMesh.extent(), (GlVector{2.0, 2.0, 0.0}));
    glMesh.mesh = nullptr;
    EXPECT_EQ(glMesh.extent(), (GlVector{0.0, 0.0, 0.0}));
}

TEST_F(GlMeshTest, BufferOfAMeshDestroyedWithoutAContextIsDeletedInItLater)
{
    const auto square = squareMesh(nullptr);
    auto glMesh = std::make_unique<GlMesh>(square.get());
    const GLuint buffer = glMesh->vertexBuffer().name();
    GlTestContext::runWithoutContext([&] { glMesh.reset(); });
    EXPECT_TRUE(glIsBuffer(buffer));
    collectReleasedGlObjects();
    EXPECT_FALSE(glIsBuffer(buffer));
}

}  // namespace
}  // namespace Veltrane
