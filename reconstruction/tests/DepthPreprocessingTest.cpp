#include "reconstruction/DepthPreprocessing.h"
#include "reconstruction/VectorMap.h"
#include "reconstruction/tests/TestImages.h"

#include <Eigen/LU>
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace Veltrane {
namespace {

using namespace DepthPreprocessing;

using Depth = TypedImage<unsigned short>;
using Map = TypedImage<float>;

std::unique_ptr<Depth> depthImage(int w, int h, unsigned short value)
{
    return filledImage<unsigned short>(w, h, 1, value);
}

const Eigen::Matrix3f intrinsics = (Eigen::Matrix3f() << 531, 0, 320, 0, 531, 240, 0, 0, 1).finished();

/// Vertex, tangent and normal maps of a depth image at full size.
struct Maps {
    Map vertices, tangentX, tangentY, normals;
    explicit Maps(const Depth& depth)
        : vertices(0, depth.width, depth.height, 1, 3), tangentX(0, depth.width, depth.height, 1, 3),
          tangentY(0, depth.width, depth.height, 1, 3), normals(0, depth.width, depth.height, 1, 3)
    {
        computeVertexMap(depth, intrinsics.inverse(), vertices);
        computeTangentMaps(vertices, tangentX, tangentY);
        computeNormalMap(vertices, tangentX, tangentY, normals);
    }
};

TEST(DepthPreprocessing, EmptyFrameGivesZeroDepthAndInvalidMaps)
{
    Depth filtered(0, 40, 30, 1, 1), half(0, 20, 15, 1, 1);
    bilateralFilter(*depthImage(40, 30, 0), filtered);
    downsampleDepth(filtered, half);
    unsigned short lo, hi;
    filtered.minMax(lo, hi);
    EXPECT_EQ(hi, 0);
    half.minMax(lo, hi);
    EXPECT_EQ(hi, 0);
    const Maps maps(filtered);
    for (const Map* m : {&maps.vertices, &maps.tangentX, &maps.tangentY, &maps.normals})
        for (std::size_t i = 0; i < m->elementCount(); ++i)
            ASSERT_TRUE(std::isnan(m->typedData()[i]));
}

TEST(DepthPreprocessing, FilterKeepsAnIsolatedPixelAndSmoothsNoise)
{
    auto depth = depthImage(9, 9, 0);
    depth->typedData()[4 * 9 + 4] = 1000;
    Depth filtered(0, 9, 9, 1, 1);
    bilateralFilter(*depth, filtered);
    EXPECT_EQ(filtered.typedData()[4 * 9 + 4], 1000);  // the zero neighbours' weights underflow
    EXPECT_EQ(filtered.typedData()[4 * 9 + 3], 0);

    // A plane with one pixel 10 mm off smooths that pixel away and keeps a
    // 100 mm step (far beyond the range sigma).
    auto bumpy = depthImage(9, 9, 1000);
    bumpy->typedData()[4 * 9 + 4] = 1010;
    for (int y = 0; y < 9; ++y)
        bumpy->typedData()[y * 9 + 8] = 1100;
    bilateralFilter(*bumpy, filtered);
    EXPECT_EQ(filtered.typedData()[4 * 9 + 4], 1000);
    EXPECT_NEAR(filtered.typedData()[4 * 9 + 8], 1100, 1);
    EXPECT_EQ(filtered.typedData()[0], 1000);  // corner: clipped window
}

TEST(DepthPreprocessing, DownsampleAveragesOnlySamplesNearTheCentre)
{
    // Left half at 1000, right half at 1200: each output pixel averages its
    // own side only.
    auto depth = depthImage(8, 8, 1000);
    for (int y = 0; y < 8; ++y)
        for (int x = 4; x < 8; ++x)
            depth->typedData()[y * 8 + x] = 1200;
    depth->typedData()[0] = 1060;  // within 90 mm of the centre of output (0, 0)
    Depth half(0, 4, 4, 1, 1);
    downsampleDepth(*depth, half);
    EXPECT_EQ(half.typedData()[0], 1007);  // 3 x 3 clipped window: (1060 + 8 * 1000) / 9 = 1006.7, rounded
    EXPECT_EQ(half.typedData()[1], (1060 + 11 * 1000) / 12);  // the 1200 column is ignored
    EXPECT_EQ(half.typedData()[2], 1200);
}

TEST(DepthPreprocessing, PlaneFacingTheCameraHasNormalsTowardsItAndPixelSpacedTangents)
{
    const Maps maps(*depthImage(640, 480, 1000));
    for (int y : {0, 1, 2, 3, 240, 476, 477, 478, 479})
        for (int x : {0, 1, 2, 3, 320, 636, 637, 638, 639}) {
            const bool border = x == 0 || y == 0 || x == 639 || y == 479;
            // The normal window x-2..x+1 must not meet the border's invalid tangents.
            const bool normalValid = x >= 3 && y >= 3 && x <= 637 && y <= 477;
            EXPECT_FALSE(VectorMap::isInvalid(VectorMap::at(maps.vertices, x, y)));
            EXPECT_EQ(VectorMap::isInvalid(VectorMap::at(maps.tangentX, x, y)), border) << x << "," << y;
            EXPECT_EQ(VectorMap::isInvalid(VectorMap::at(maps.normals, x, y)), !normalValid) << x << "," << y;
            if (!normalValid)
                continue;
            const Eigen::Vector3f n = VectorMap::at(maps.normals, x, y);
            EXPECT_NEAR(n.z(), -1.0f, 1e-6f);
            const Eigen::Vector3f tx = VectorMap::at(maps.tangentX, x, y);
            EXPECT_NEAR(tx.x(), 1000.0f / 531.0f, 1e-3f);
            EXPECT_NEAR(tx.y(), 0.0f, 1e-6f);
            EXPECT_NEAR(tx.z(), 0.0f, 1e-6f);
        }
    const Eigen::Vector3f v = VectorMap::at(maps.vertices, 0, 0);
    EXPECT_NEAR(v.x(), -320.0f * 1000.0f / 531.0f, 1e-2f);
    EXPECT_NEAR(v.z(), 1000.0f, 1e-3f);
}

TEST(DepthPreprocessing, DepthStepsInvalidateTangentsAndNormals)
{
    struct Case {
        unsigned short far;
        bool tangentValid;
    };
    // The step lies between columns 9 and 10; pixel 10 spans columns 9 to 11.
    for (const Case c : {Case{1020, true}, Case{1040, false}}) {
        auto depth = depthImage(20, 20, 1000);
        for (int y = 0; y < 20; ++y)
            for (int x = 10; x < 20; ++x)
                depth->typedData()[y * 20 + x] = c.far;
        const Maps maps(*depth);
        EXPECT_EQ(!VectorMap::isInvalid(VectorMap::at(maps.tangentX, 10, 10)), c.tangentValid) << c.far;
        EXPECT_EQ(!VectorMap::isInvalid(VectorMap::at(maps.normals, 10, 10)), c.tangentValid) << c.far;
    }
    // A hole invalidates its neighbours' tangents.
    auto holed = depthImage(20, 20, 1000);
    holed->typedData()[10 * 20 + 10] = 0;
    const Maps maps(*holed);
    EXPECT_TRUE(VectorMap::isInvalid(VectorMap::at(maps.tangentX, 11, 10)));
    EXPECT_TRUE(VectorMap::isInvalid(VectorMap::at(maps.tangentY, 10, 9)));
    EXPECT_FALSE(VectorMap::isInvalid(VectorMap::at(maps.tangentX, 12, 10)));
}

TEST(DepthPreprocessing, TiltedPlaneNormalMatchesItsGeometry)
{
    // Depth grows to the right: the plane z = 1000 + 0.5 x (camera x in mm)
    // has the normal (0.5, 0, -1) normalised, facing the camera.
    const int w = 64, h = 48;
    const Eigen::Matrix3f k = intrinsics;
    Depth depth(0, w, h, 1, 1);
    for (int v = 0; v < h; ++v)
        for (int u = 0; u < w; ++u) {
            const float a = (u - k(0, 2)) / k(0, 0);
            depth.typedData()[v * w + u] = static_cast<unsigned short>(std::lround(1000.0f / (1.0f - 0.5f * a)));
        }
    const Maps maps(depth);
    const Eigen::Vector3f expected = Eigen::Vector3f(0.5f, 0.0f, -1.0f).normalized();
    for (const auto& [x, y] : {std::pair{3, 3}, std::pair{30, 20}, std::pair{61, 45}})
        EXPECT_GT(Eigen::Vector3f(VectorMap::at(maps.normals, x, y)).dot(expected), 0.995f) << x << "," << y;
}

/// Byte equality, so that NaN entries compare equal to NaN entries.
template <typename T>
bool sameBytes(const TypedImage<T>& a, const TypedImage<T>& b)
{
    const std::size_t bytes = sizeof(T) * a.width * a.height * a.channels;
    return a.width == b.width && a.height == b.height && std::memcmp(a.data(), b.data(), bytes) == 0;
}

/// A depth frame with noise, depth steps and holes, so that every stage
/// meets each of its cases.
std::unique_ptr<Depth> structuredScene(int w, int h)
{
    auto depth = depthImage(w, h, 0);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-15, 15);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool hole = (x / 7 + y / 5) % 11 == 0;
            const int surface = x < w / 2 ? 900 + 2 * y : 1400 - x;
            depth->typedData()[y * w + x] = hole ? 0 : static_cast<unsigned short>(surface + noise(random));
        }
    return depth;
}

/// The images of every level of a pyramid.
class Pyramid {
public:
    static constexpr int levelCount = 3;

    struct Images {
        Depth filtered;
        Map vertices, tangentX, tangentY, normals;
        Images(int w, int h)
            : filtered(0, w, h, 1, 1), vertices(0, w, h, 1, 3), tangentX(0, w, h, 1, 3),
              tangentY(0, w, h, 1, 3), normals(0, w, h, 1, 3)
        {
        }
    };

    Pyramid(int w, int h)
    {
        levelIntrinsics(intrinsics.cast<double>(), levelCount, m_matrices, m_inverses);
        for (int l = 0; l < levelCount; ++l)
            m_images.push_back(std::make_unique<Images>(w >> l, h >> l));
    }

    Images& level(int l) { return *m_images[l]; }
    const Eigen::Matrix3f& inverseIntrinsics(int l) const { return m_inverses[l]; }

    void computeInOneGo(const Depth& depth)
    {
        std::vector<PyramidLevel> levels;
        for (int l = 0; l < levelCount; ++l) {
            Images& i = level(l);
            levels.push_back({&i.filtered, m_inverses[l], &i.vertices, &i.tangentX, &i.tangentY, &i.normals});
        }
        computePyramid(depth, levels.data(), levelCount);
    }

    /// The level's images byte for byte equal to those of `other`.
    void expectEqual(Pyramid& other, const std::string& what)
    {
        for (int l = 0; l < levelCount; ++l) {
            const Images& a = level(l);
            const Images& b = other.level(l);
            EXPECT_TRUE(sameBytes(a.filtered, b.filtered)) << what << ", level " << l;
            EXPECT_TRUE(sameBytes(a.vertices, b.vertices)) << what << ", level " << l;
            EXPECT_TRUE(sameBytes(a.tangentX, b.tangentX)) << what << ", level " << l;
            EXPECT_TRUE(sameBytes(a.tangentY, b.tangentY)) << what << ", level " << l;
            EXPECT_TRUE(sameBytes(a.normals, b.normals)) << what << ", level " << l;
        }
    }

private:
    Eigen::Matrix3f m_matrices[levelCount], m_inverses[levelCount];
    std::vector<std::unique_ptr<Images>> m_images;
};

TEST(DepthPreprocessing, PyramidInOneGoEqualsTheSingleStages)
{
    const int w = 160, h = 120;
    const auto depth = structuredScene(w, h);
    Pyramid single(w, h), together(w, h);

    bilateralFilter(*depth, single.level(0).filtered);
    for (int l = 1; l < Pyramid::levelCount; ++l)
        downsampleDepth(single.level(l - 1).filtered, single.level(l).filtered);
    for (int l = 0; l < Pyramid::levelCount; ++l) {
        Pyramid::Images& s = single.level(l);
        computeVertexMap(s.filtered, single.inverseIntrinsics(l), s.vertices);
        computeTangentMaps(s.vertices, s.tangentX, s.tangentY);
        computeNormalMap(s.vertices, s.tangentX, s.tangentY, s.normals);
    }
    together.computeInOneGo(*depth);

    single.expectEqual(together, "single stages");
    int validNormals = 0;
    for (int i = 0; i < w * h; ++i)
        validNormals += !VectorMap::isInvalid(VectorMap::at(together.level(0).normals, i % w, i / w));
    EXPECT_GT(validNormals, w * h / 2);  // the scene is not all holes and edges
}

TEST(DepthPreprocessing, PyramidDoesNotDependOnTheThreadCount)
{
    // Each thread takes a block of rows and computes the few rows around it
    // that its rows read; with many threads the blocks of the smallest level
    // are a row or two, or empty.
    const int w = 160, h = 120;
    const auto depth = structuredScene(w, h);
    const int threads = omp_get_max_threads();
    Pyramid reference(w, h);
    omp_set_num_threads(1);
    reference.computeInOneGo(*depth);
    for (const int count : {2, 3, 7, 40}) {
        omp_set_num_threads(count);
        Pyramid pyramid(w, h);
        pyramid.computeInOneGo(*depth);
        reference.expectEqual(pyramid, std::to_string(count) + " threads");
    }
    omp_set_num_threads(threads);
}

}  // namespace
}  // namespace Veltrane
