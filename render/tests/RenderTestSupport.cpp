#include "RenderTestSupport.h"

#include "core/Mesh.h"
#include "core/SharedImage.h"
#include "core/TypedImage.h"
#include "reconstruction/MarchingCubes.h"
#include "render/GlView.h"

#include <Eigen/Geometry>
#include <GL/glew.h>

#include <cmath>
#include <cstdlib>

namespace Veltrane {

Rgb pixel(const GlRenderTarget& target, int x, int y)
{
    const auto rgba = target.rgba(x, y);
    return {rgba[0], rgba[1], rgba[2]};
}

::testing::AssertionResult colorNear(const Rgb& actual, const Rgb& expected, int tolerance)
{
    for (int c = 0; c < 3; ++c) {
        if (std::abs(actual[c] - expected[c]) > tolerance) {
            return ::testing::AssertionFailure()
                   << "(" << actual[0] << ", " << actual[1] << ", " << actual[2]
                   << ") is not within " << tolerance << " of (" << expected[0] << ", "
                   << expected[1] << ", " << expected[2] << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult colorNearby(const GlRenderTarget& target, int x, int y,
                                       const Rgb& expected, int tolerance)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (colorNear(pixel(target, x + dx, y + dy), expected, tolerance))
                return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no pixel near (" << x << ", " << y << ") is within "
                                         << tolerance << " of (" << expected[0] << ", "
                                         << expected[1] << ", " << expected[2] << "); the pixel is "
                                         << colorNear(pixel(target, x, y), expected, 0).message();
}

::testing::AssertionResult drawingInto(const GlRenderTarget& target,
                                       const std::array<int, 4>& viewport)
{
    GLint framebuffer = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &framebuffer);
    std::array<int, 4> current{};
    glGetIntegerv(GL_VIEWPORT, current.data());
    if (static_cast<unsigned>(framebuffer) != target.framebuffer())
        return ::testing::AssertionFailure() << "drawing into framebuffer " << framebuffer;
    if (current != viewport)
        return ::testing::AssertionFailure() << "viewport " << current[0] << ", " << current[1]
                                             << ", " << current[2] << ", " << current[3];
    return ::testing::AssertionSuccess();
}

Picture::Picture(const GlRenderTarget& target)
    : m_width(target.width()), m_height(target.height()), m_rgba(target.readRgba())
{
}

Rgb Picture::at(int x, int y) const
{
    const unsigned char* p = &m_rgba[(static_cast<std::size_t>(y) * m_width + x) * 4];
    return {p[0], p[1], p[2]};
}

namespace {

void clearTarget()
{
    glClearColor(clearColor[0] / 255.0f, clearColor[1] / 255.0f, clearColor[2] / 255.0f, 1.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

}  // namespace

bool renderView(GlView& view, const GlRenderTarget& target)
{
    glViewport(0, 0, target.width(), target.height());
    clearTarget();
    glDisable(GL_DEPTH_TEST);
    view.resize(target.width(), target.height());
    return view.render();
}

void loadOrthoScene(const GlRenderTarget& target, double extent)
{
    glViewport(0, 0, target.width(), target.height());
    clearTarget();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-extent, extent, -extent, extent, -100.0, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

GlMatrix viewMatrixLookingAt(const GlVector& eye, const GlVector& target)
{
    // Camera axes in world coordinates: z forward, y down on screen.
    const Eigen::Vector3d position(eye[0], eye[1], eye[2]);
    const Eigen::Vector3d forward =
        (Eigen::Vector3d(target[0], target[1], target[2]) - position).normalized();
    Eigen::Vector3d down = Eigen::Vector3d::UnitY() - forward * forward.y();
    if (down.norm() < 1e-6)
        down = Eigen::Vector3d::UnitZ() - forward * forward.z();
    down.normalize();
    const Eigen::Vector3d right = down.cross(forward);
    Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
    pose.block<3, 1>(0, 0) = right;
    pose.block<3, 1>(0, 1) = down;
    pose.block<3, 1>(0, 2) = forward;
    pose.block<3, 1>(0, 3) = position;
    // The views turn the world half about x before the inverse of their
    // matrix: the matrix is the pose, seen in OpenGL's axes.
    const Eigen::Matrix4d flip = Eigen::Vector4d(1, -1, -1, 1).asDiagonal();
    GlMatrix view;
    Eigen::Map<Eigen::Matrix4d>(view.data()) = flip * pose * flip;
    return view;
}

std::unique_ptr<Mesh> squareMesh(const Rgb* color, const GlVector* texCoord)
{
    auto mesh = std::make_unique<Mesh>();
    mesh->vertices() = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
    mesh->faces() = {{0, 1, 2}, {0, 2, 3}};
    mesh->normals().assign(4, Mesh::Vector(0, 0, 1));
    mesh->normalIndices() = mesh->faces();
    if (color) {
        mesh->colors().assign(4, Mesh::Vector((*color)[0], (*color)[1], (*color)[2]) / 255.0);
        mesh->colorIndices() = mesh->faces();
    }
    if (texCoord) {
        mesh->texCoords().assign(4, Mesh::Vector((*texCoord)[0], (*texCoord)[1], (*texCoord)[2]));
        mesh->texCoordIndices() = mesh->faces();
    }
    mesh->computeBoundingBox();
    return mesh;
}

template <typename T>
std::unique_ptr<SharedImage> memoryImage(int width, int height, int slices, int channels,
                                         const std::vector<T>& values)
{
    // TypedImage takes its element type's own code whatever it is given.
    auto* image = new TypedImage<T>(PixelType::Float, width, height, slices, channels);
    EXPECT_EQ(image->elementCount(), values.size());
    std::copy(values.begin(), values.end(), image->typedData());
    return std::make_unique<SharedImage>(image, true);
}

template std::unique_ptr<SharedImage> memoryImage(int, int, int, int,
                                                  const std::vector<unsigned char>&);
template std::unique_ptr<SharedImage> memoryImage(int, int, int, int,
                                                  const std::vector<unsigned short>&);
template std::unique_ptr<SharedImage> memoryImage(int, int, int, int, const std::vector<float>&);

std::unique_ptr<Mesh> fusedSphereMesh(int size, double radius)
{
    TypedImage<float> distance(PixelType::Float, size, size, size, 1);
    TypedImage<unsigned char> colors(PixelType::UnsignedByte, size, size, size, 4);
    const double center = (size - 1) * 0.5;
    for (int k = 0; k < size; ++k) {
        for (int j = 0; j < size; ++j) {
            for (int i = 0; i < size; ++i) {
                const std::size_t voxel = i + size * (j + static_cast<std::size_t>(size) * k);
                const double r = std::sqrt((i - center) * (i - center) +
                                           (j - center) * (j - center) +
                                           (k - center) * (k - center));
                distance.typedData()[voxel] = static_cast<float>((r - radius) / 4.0);
                // y points down: small j is the top of the ball.
                const double top = 1.0 - static_cast<double>(j) / (size - 1);
                unsigned char* rgba = colors.typedData() + 4 * voxel;
                rgba[0] = static_cast<unsigned char>(70 + 170 * top);
                rgba[1] = static_cast<unsigned char>(150 + 40 * top);
                rgba[2] = static_cast<unsigned char>(220 - 150 * top);
                rgba[3] = 255;
            }
        }
    }
    std::unique_ptr<Mesh> mesh = marchingCubes(distance, &colors, 0.0f);
    mesh->computeNormals();
    mesh->computeBoundingBox();
    return mesh;
}

TabletopFrame tabletopFrame()
{
    using namespace TestSupport;
    const SyntheticCamera camera(SyntheticScene::tabletop(), PinholeCamera{}.scaledDown(2));
    Eigen::Matrix4d sceneToCamera = Eigen::Matrix4d::Identity();
    sceneToCamera.block<3, 3>(0, 0) =
        Eigen::AngleAxisd(0.35, Eigen::Vector3d::UnitX()).toRotationMatrix();
    sceneToCamera(2, 3) = 1100.0;
    TabletopFrame result{camera.render(sceneToCamera), {}};
    const auto k = camera.camera().matrix();
    for (int i = 0; i < 9; ++i)
        result.K[i] = static_cast<float>(k[i]);
    return result;
}

}  // namespace Veltrane
