#pragma once

#include "render/GlObject.h"
#include "testsupport/GlTest.h"
#include "testsupport/SyntheticCamera.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

namespace Veltrane {

class GlView;
class Mesh;
class SharedImage;

using Rgb = std::array<int, 3>;

/// The colour the render tests clear to, so that "nothing drawn" shows.
constexpr Rgb clearColor{255, 0, 255};

/// Red, green and blue of the target's pixel at (x, y).
Rgb pixel(const GlRenderTarget& target, int x, int y);
/// Each channel within `tolerance` of `expected`.
::testing::AssertionResult colorNear(const Rgb& actual, const Rgb& expected, int tolerance);

/// Whether a pixel within one pixel of (x, y) is within `tolerance` of
/// `expected`: for thin lines, which rasterise to either side of a
/// projected point.
::testing::AssertionResult colorNearby(const GlRenderTarget& target, int x, int y,
                                       const Rgb& expected, int tolerance);

/// A copy of everything a render target shows, to compare pixels in bulk.
class Picture {
public:
    explicit Picture(const GlRenderTarget& target);
    /// The pixel at (x, y), origin bottom left.
    Rgb at(int x, int y) const;
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    int m_width;
    int m_height;
    std::vector<unsigned char> m_rgba;
};

/// Whether `target` is the draw framebuffer and `viewport` (x, y, width,
/// height) the viewport: for helpers that must put back where they draw.
::testing::AssertionResult drawingInto(const GlRenderTarget& target,
                                       const std::array<int, 4>& viewport);

/// Paints `view` into `target` the way an interactive view does: viewport
/// and size of the target, colour cleared to `clearColor`, depth cleared,
/// depth test off. Returns what render() returned.
bool renderView(GlView& view, const GlRenderTarget& target);

/// Clears `target` to `clearColor` and sets an orthographic projection over
/// -extent ... extent in x and y (depth -100 ... 100) and an identity
/// modelview, for drawing objects on their own.
void loadOrthoScene(const GlRenderTarget& target, double extent);

/// A view matrix (the inverse of the camera pose, see GlView) that shows the
/// 3-D views' world from `eye`, looking at `target`, with world -y upwards
/// on screen (camera coordinates: y down, z forward).
GlMatrix viewMatrixLookingAt(const GlVector& eye, const GlVector& target);

/// The square from (-1, -1, 0) to (1, 1, 0) as two faces wound
/// counter-clockwise seen from +z, with normals (0, 0, 1); with one colour per
/// vertex when `color` is given, and with `texCoord` as every vertex's
/// texture coordinate when given.
std::unique_ptr<Mesh> squareMesh(const Rgb* color, const GlVector* texCoord = nullptr);

/// A shared image whose memory copy (owned) holds `values`, channels
/// interleaved, as elements of type T (unsigned char, unsigned short or
/// float), spacing 1.
template <typename T>
std::unique_ptr<SharedImage> memoryImage(int width, int height, int slices, int channels,
                                         const std::vector<T>& values);

/// The surface of a ball of `radius` voxels centred in a `size`^3 volume of
/// unit spacing, as marching cubes extracts it from a distance volume with
/// colours (warm on top, cool at the bottom); with normals and its bounding
/// box computed.
std::unique_ptr<Mesh> fusedSphereMesh(int size, double radius);

/// A frame of the synthetic tabletop as a half-size camera sees it from
/// 1100 mm, tilted down by 20 degrees, with that camera's matrix.
struct TabletopFrame {
    TestSupport::RgbdFrame frame;
    float K[9];
};
TabletopFrame tabletopFrame();

}  // namespace Veltrane
