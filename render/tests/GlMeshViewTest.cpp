#include "render/GlMeshView.h"

#include "RenderTestSupport.h"
#include "core/Mesh.h"
#include "render/GlBoundingBox.h"
#include "render/GlMesh.h"

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace Veltrane {
namespace {

using GlMeshViewTest = GlTest;

/// Where `view`'s last render put the world point `p`, in whole pixels.
std::array<int, 2> projected(const GlView& view, const GlVector& p)
{
    double window[3] = {};
    view.viewState().project(p.data(), window);
    return {static_cast<int>(std::floor(window[0])), static_cast<int>(std::floor(window[1]))};
}

Rgb pixelAt(const GlRenderTarget& target, const GlView& view, const GlVector& p)
{
    const auto [x, y] = projected(view, p);
    return pixel(target, x, y);
}

class EmptyView : public GlView {
public:
    bool render() override { return true; }
    int kind() const override { return 0; }
};

TEST(GlView, ObjectListIgnoresNullAndRepeatsAndKeepsItsOrder)
{
    EmptyView view;
    GlBoundingBox a, b, c;
    const std::vector<GlObject*> added = {&a, nullptr, &b, &a, &c};
    for (GlObject* object : added)
        view.addObject(object);
    EXPECT_EQ(view.objects(), (std::vector<GlObject*>{&a, &b, &c}));
    view.removeObject(&b);
    view.removeObject(nullptr);
    view.removeObject(&b);
    EXPECT_EQ(view.objects(), (std::vector<GlObject*>{&a, &c}));
}

TEST_F(GlMeshViewTest, GradientIsLighterAtTheBottomAndResizeKeepsTheLastAspect)
{
    GlMeshView view;
    EXPECT_EQ(view.kind(), 2);
    EXPECT_EQ(view.objects(), (std::vector<GlObject*>{view.mesh.get(), view.cropBox.get()}));
    GlRenderTarget target(64, 100);
    EXPECT_TRUE(renderView(view, target));
    EXPECT_TRUE(colorNear(pixel(target, 32, 0), {95, 95, 95}, 1));
    EXPECT_TRUE(colorNear(pixel(target, 32, 50), {75, 75, 75}, 1));
    EXPECT_TRUE(colorNear(pixel(target, 32, 99), {55, 55, 55}, 1));

    EXPECT_DOUBLE_EQ(view.aspect(), 0.64);
    view.resize(0, 480);
    EXPECT_DOUBLE_EQ(view.aspect(), 0.64);
    view.resize(640, 0);
    EXPECT_DOUBLE_EQ(view.aspect(), 0.64);
}

TEST_F(GlMeshViewTest, GroundGridSpansTwiceTheLargerFootprintUnderTheMesh)
{
    // Bounding box centre (0, 0, 0), extent (100, 50, 300): the grid lies at
    // y = 25 with half size 600 and lines 60 apart.
    Mesh mesh;
    mesh.vertices() = {{-50, -25, -150}, {50, 25, 150}, {50, -25, 150}};
    mesh.faces() = {{0, 1, 2}};
    mesh.computeBoundingBox();
    GlMeshView view;
    view.mesh->mesh = &mesh;
    view.mesh->setMesh();
    view.mesh->setVisible(false);
    view.setMatrix(viewMatrixLookingAt({0.0, -1500.0, 0.0}, {0.0, 25.0, 0.0}));
    GlRenderTarget target(200, 200);
    renderView(view, target);
    const Picture background(target);
    view.showGrid = true;
    renderView(view, target);
    const Picture grid(target);
    target.saveScreenshot("mesh_view_grid");

    const auto lighter = [&](const GlVector& p) {
        const auto [x, y] = projected(view, p);
        return grid.at(x, y)[0] > background.at(x, y)[0] + 15;
    };
    for (int line = -10; line <= 10; ++line) {
        const double u = line * 60.0;
        SCOPED_TRACE(u);
        EXPECT_TRUE(lighter({u, 25.0, 30.0})) << "line along z";
        EXPECT_TRUE(lighter({30.0, 25.0, u})) << "line along x";
        if (line < 10) {
            EXPECT_FALSE(lighter({u + 30.0, 25.0, 30.0})) << "between lines";
            EXPECT_FALSE(lighter({30.0, 25.0, u + 30.0})) << "between lines";
        }
    }
    EXPECT_FALSE(lighter({660.0, 25.0, 30.0})) << "beyond the grid";
    EXPECT_FALSE(lighter({30.0, 25.0, -660.0})) << "beyond the grid";
}

/// Square of 200 mm in the plane z = 0 facing the camera, with vertex colours.
std::unique_ptr<Mesh> facingSquare(const Rgb& color)
{
    auto mesh = squareMesh(&color);
    for (auto& v : mesh->vertices())
        v *= 100.0;
    mesh->computeBoundingBox();
    return mesh;
}

TEST_F(GlMeshViewTest, CropModeMarksWhatLiesOutsideTheBoxAndShowsTheBox)
{
    const Rgb color{60, 140, 220};
    const Rgb cutAway{199, 61, 51};
    const Rgb boxColor{255, 255, 255};
    const auto square = facingSquare(color);
    const struct {
        const char* name;
        bool cropMode;
        double boxShift;  // along x, through the box's matrix
        Rgb left, right;
    } cases[] = {
        {"no crop mode", false, 0.0, color, color},
        {"left half kept", true, 0.0, color, cutAway},
        {"box moved to the right half", true, 100.0, cutAway, color},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GlMeshView view;
        view.mesh->mesh = square.get();
        view.mesh->setMesh();
        view.setCropBox({-50.0, 0.0, 0.0}, {100.0, 200.0, 200.0});
        GlMatrix boxMatrix = identityGlMatrix();
        boxMatrix[12] = c.boxShift;
        view.cropBox->setMatrix(boxMatrix);
        view.cropBox->setColor({1.0, 1.0, 1.0});
        view.cropMode = c.cropMode;
        view.setMatrix(viewMatrixLookingAt({0.0, 0.0, 600.0}, {0.0, 0.0, 0.0}));
        GlRenderTarget target(160, 120);
        renderView(view, target);
        if (c.boxShift == 0.0)
            target.saveScreenshot(std::string("mesh_view_crop_") + (c.cropMode ? "on" : "off"));

        EXPECT_TRUE(colorNear(pixelAt(target, view, {-70.0, 40.0, 0.0}), c.left, 3)) << "left";
        EXPECT_TRUE(colorNear(pixelAt(target, view, {70.0, 40.0, 0.0}), c.right, 3)) << "right";
        // The box's front edge at x = c.boxShift, z = 100 crosses the square.
        const auto [x, y] = projected(view, {c.boxShift, 40.0, 100.0});
        EXPECT_EQ(colorNearby(target, x, y, boxColor, 3), c.cropMode) << "box edge";
        EXPECT_EQ(view.mesh->renderMode, MeshRenderMode::Textured);
    }
}

TEST_F(GlMeshViewTest, CleanPreviewMarksThePiecesOutsideTheAreaBounds)
{
    // Two pieces side by side, of relative areas 0.1 and 1.
    Mesh pieces;
    for (const double area : {0.1, 1.0}) {
        const GlVector texCoord{area, 0.0, 0.0};
        const auto square = squareMesh(nullptr, &texCoord);
        const int first = static_cast<int>(pieces.vertices().size());
        for (const auto& v : square->vertices())
            pieces.vertices().push_back(v * 80.0 + Mesh::Vector(area < 0.5 ? -100 : 100, 0, 0));
        for (const auto& n : square->normals())
            pieces.normals().push_back(n);
        for (const auto& t : square->texCoords())
            pieces.texCoords().push_back(t);
        for (const auto& f : square->faces())
            pieces.faces().push_back(f + Mesh::Triple(first, first, first));
    }
    pieces.normalIndices() = pieces.texCoordIndices() = pieces.faces();
    pieces.computeBoundingBox();

    const Rgb removed{230, 56, 41};
    const Rgb kept{209, 209, 204};
    const struct {
        float minConnected, maxConnected;
        Rgb small, large;
    } cases[] = {
        {0.2f, 1.0f, removed, kept},
        {0.1f, 1.0f, removed, kept},  // at the lower bound: removed
        {0.0f, 1.0f, kept, kept},
        {0.0f, 0.5f, kept, removed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.minConnected) + " " + std::to_string(c.maxConnected));
        GlMeshView view;
        view.mesh->mesh = &pieces;
        view.mesh->setMesh();
        view.mesh->renderMode = MeshRenderMode::Surface;
        view.minConnected = c.minConnected;
        view.maxConnected = c.maxConnected;
        view.cleanPreview = true;
        view.cropMode = true;  // the clean preview takes precedence
        view.setMatrix(viewMatrixLookingAt({0.0, 0.0, 700.0}, {0.0, 0.0, 0.0}));
        GlRenderTarget target(160, 120);
        renderView(view, target);
        EXPECT_TRUE(colorNear(pixelAt(target, view, {-100.0, 40.0, 0.0}), c.small, 3));
        EXPECT_TRUE(colorNear(pixelAt(target, view, {100.0, 40.0, 0.0}), c.large, 3));
        EXPECT_EQ(view.mesh->renderMode, MeshRenderMode::Surface);
    }
}

TEST_F(GlMeshViewTest, FusedMeshCoversTheDiscItProjectsTo)
{
    const int size = 32;
    const double radius = 10.0;
    const auto sphere = fusedSphereMesh(size, radius);
    const GlVector center{(size - 1) * 0.5, (size - 1) * 0.5, (size - 1) * 0.5};
    const double distance = 50.0;

    GlMeshView view;
    view.mesh->mesh = sphere.get();
    view.mesh->setMesh();
    view.showGrid = true;
    // From the front, a little above.
    const GlVector eye{center[0], center[1] - 0.3 * distance, center[2] - 0.95 * distance};
    view.setMatrix(viewMatrixLookingAt(eye, center));
    GlRenderTarget target(640, 480);

    const struct {
        int mode;
        const char* name;
    } modes[] = {
        {MeshRenderMode::Textured, "textured"},
        {MeshRenderMode::Surface, "surface"},
        {MeshRenderMode::SurfaceAndWireframe, "surface_wireframe"},
        {MeshRenderMode::Wireframe, "wireframe"},
    };
    for (const auto& m : modes) {
        SCOPED_TRACE(m.name);
        view.mesh->renderMode = m.mode;
        view.mesh->setVisible(false);
        renderView(view, target);
        const Picture without(target);
        view.mesh->setVisible(true);
        renderView(view, target);
        const Picture with(target);
        target.saveScreenshot(std::string("mesh_view_") + m.name);

        // The ball's outline: angular radius asin(r / d) in a 60 degree view.
        const auto [cx, cy] = projected(view, center);
        const double eyeDistance = std::sqrt(0.3 * 0.3 + 0.95 * 0.95) * distance;
        const double outline = target.height() * 0.5 * std::tan(std::asin(radius / eyeDistance)) /
                               std::tan(M_PI / 6.0);
        int inside = 0, covered = 0, outside = 0, touched = 0;
        for (int y = 0; y < target.height(); ++y) {
            for (int x = 0; x < target.width(); ++x) {
                const double r = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
                const bool drawn = with.at(x, y) != without.at(x, y);
                if (r < 0.9 * outline) {
                    ++inside;
                    covered += drawn;
                } else if (r > 1.1 * outline) {
                    ++outside;
                    touched += drawn;
                }
            }
        }
        if (m.mode == MeshRenderMode::Wireframe) {
            EXPECT_GT(covered, inside / 4) << "edges all over the ball";
            EXPECT_LT(covered, inside) << "but not a filled disc";
        } else {
            EXPECT_EQ(covered, inside);
        }
        EXPECT_EQ(touched, 0) << "of " << outside << " pixels outside the ball";
    }

    // The crop preview on it, the box around the upper half.
    view.mesh->renderMode = MeshRenderMode::Textured;
    view.cropMode = true;
    view.setCropBox({center[0], center[1] - 6.0, center[2]}, {24.0, 14.0, 24.0});
    view.cropBox->setColor({1.0, 1.0, 1.0});
    renderView(view, target);
    target.saveScreenshot("mesh_view_crop_preview");
}

TEST_F(GlMeshViewTest, OpenSurfaceShowsItsInsideInTheBackColour)
{
    // The ball without its top cap (y points down), seen from above.
    const int size = 32;
    auto bowl = fusedSphereMesh(size, 10.0);
    const double middle = (size - 1) * 0.5;
    auto& faces = bowl->faces();
    std::vector<Mesh::Triple> kept;
    for (const auto& face : faces) {
        const double top = std::max({bowl->vertices()[face[0]].y(), bowl->vertices()[face[1]].y(),
                                     bowl->vertices()[face[2]].y()});
        if (top > middle - 5.0)
            kept.push_back(face);
    }
    faces = kept;
    bowl->normalIndices() = bowl->colorIndices() = faces;

    GlMeshView view;
    view.mesh->mesh = bowl.get();
    view.mesh->setMesh();
    view.setMatrix(viewMatrixLookingAt({middle, middle - 40.0, middle - 25.0},
                                       {middle, middle, middle}));
    GlRenderTarget target(320, 240);
    for (const int mode : {MeshRenderMode::Textured, MeshRenderMode::Surface}) {
        SCOPED_TRACE(mode);
        view.mesh->renderMode = mode;
        renderView(view, target);
        target.saveScreenshot(mode == MeshRenderMode::Textured ? "mesh_view_inside_textured"
                                                                : "mesh_view_inside_surface");
        // Through the opening onto the inner bottom: the back material, the
        // complement of the yellow front, is blue.
        const Rgb inside = pixelAt(target, view, {middle, middle + 9.0, middle});
        EXPECT_GT(inside[2], inside[0] + 60);
        EXPECT_GT(inside[2], inside[1] + 60);
    }
}

}  // namespace
}  // namespace Veltrane
