#include "reconstruction/SurfaceReconstructionGPU.h"

#include "core/ClImage.h"
#include "core/Mesh.h"
#include "reconstruction/ClMarchingCubes.h"
#include "reconstruction/MarchingCubes.h"
#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfaceReconstructionCPU.h"
#include "testsupport/ClTestSupport.h"
#include "testsupport/FusionSetup.h"
#include "testsupport/LogCapture.h"
#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <list>
#include <vector>

namespace Veltrane {
namespace {

using namespace TestSupport;

const PinholeCamera frameCamera = PinholeCamera().scaledDown(2);  // 320 x 240

/// The tabletop scene in a volume whose coordinates are the scene's, seen
/// first from `start`; the depth filter window as the CPU's.
void configure(ReconstructionParameters& params, const Eigen::Matrix4d& start, int resolution,
               const PinholeCamera& camera = frameCamera)
{
    placeVolumeAroundScene(params, camera, start, resolution);
    params.bilateralFilterRadius = 2;
}

template <typename T>
std::vector<T> download(ClImage* image)
{
    std::vector<T> values(image->elementCount());
    EXPECT_TRUE(image->read(values.data(), values.size() * sizeof(T)));
    return values;
}

/// How two maps of 3-vectors (NaN = invalid) agree.
struct MapAgreement {
    double sameValidity = 0.0;  ///< fraction of pixels valid in both or in neither
    double withinTolerance = 0.0;  ///< fraction of the pixels valid in both within `tolerance`
    long bothValid = 0;
};

MapAgreement compareMaps(const TypedImage<float>& cpu, const std::vector<float>& gpu, float tolerance)
{
    MapAgreement result;
    const std::size_t pixels = cpu.elementCount() / 3;
    long same = 0, close = 0;
    for (std::size_t i = 0; i < pixels; ++i) {
        const Eigen::Map<const Eigen::Vector3f> a(cpu.typedData() + 3 * i);
        const Eigen::Map<const Eigen::Vector3f> b(gpu.data() + 3 * i);
        const bool validA = a.allFinite(), validB = b.allFinite();
        same += validA == validB;
        if (validA && validB) {
            ++result.bothValid;
            close += (a - b).cwiseAbs().maxCoeff() <= tolerance;
        }
    }
    result.sameValidity = static_cast<double>(same) / pixels;
    result.withinTolerance = result.bothValid ? static_cast<double>(close) / result.bothValid : 1.0;
    return result;
}

/// One back-end for the suite. The parameter sets it is given live as long
/// as it does, since it keeps a pointer to the last one.
class SurfaceReconstructionGpuTest : public ClSharedObjectTest<SurfaceReconstructionGpuTest, SurfaceReconstructionGPU> {
protected:
    static void TearDownTestSuite()
    {
        ClSharedObjectTest::TearDownTestSuite();
        s_params.clear();
    }
    void TearDown() override
    {
        if (sharedIsBuilt())
            gpu().release();
    }

    static SurfaceReconstructionGPU& gpu() { return shared(); }
    /// A new parameter set configured for `start` and `resolution`.
    static ReconstructionParameters& newParams(const Eigen::Matrix4d& start, int resolution,
                                               const PinholeCamera& camera = frameCamera)
    {
        ReconstructionParameters& params = s_params.emplace_back();
        configure(params, start, resolution, camera);
        return params;
    }

    static inline std::list<ReconstructionParameters> s_params;
};

TEST_F(SurfaceReconstructionGpuTest, StagesMatchTheCpuBackEnd)
{
    const SyntheticCamera sensor(SyntheticScene::tabletop(), frameCamera, DepthNoise{1.0, 0.001, 5});
    const std::vector<Eigen::Matrix4d> trajectory = tabletopOrbit(4).poses();
    for (bool colour : {true, false}) {
        SCOPED_TRACE(colour ? "colour" : "no colour");
        ReconstructionParameters cpuParams;
        configure(cpuParams, trajectory.front(), 64);
        ReconstructionParameters& gpuParams = newParams(trajectory.front(), 64);
        for (ReconstructionParameters* p : {&cpuParams, &gpuParams})
            p->setColorVolume(colour);
        SurfaceReconstructionCPU cpu;
        ASSERT_TRUE(cpu.init(&cpuParams));
        ASSERT_TRUE(gpu().init(&gpuParams));

        // The first frame is fused at the initial pose by both.
        const RgbdFrame first = sensor.render(trajectory.front(), 0);
        ASSERT_EQ(cpu.processFrame(first.depth.get(), first.colour.get(), nullptr, nullptr, true), 0);
        ASSERT_EQ(gpu().processFrame(first.depth.get(), first.colour.get(), nullptr, nullptr, true), 0);

        const std::vector<float> tsdf = download<float>(gpu().tsdfVolume);
        const std::vector<unsigned char> weights = download<unsigned char>(gpu().weightVolume());
        long sameObservation = 0, closeDistance = 0, observed = 0;
        for (std::size_t i = 0; i < tsdf.size(); ++i) {
            const float a = cpu.tsdfVolume->typedData()[i];
            sameObservation += std::isnan(a) == std::isnan(tsdf[i]) && cpu.weightVolume()->typedData()[i] == weights[i];
            if (!std::isnan(a) && !std::isnan(tsdf[i])) {
                ++observed;
                closeDistance += std::abs(a - tsdf[i]) < 0.01f;
            }
        }
        EXPECT_GT(observed, 10000);
        EXPECT_GT(sameObservation, 0.99 * tsdf.size());
        EXPECT_GT(closeDistance, 0.99 * observed);
        if (colour) {
            const std::vector<unsigned char> rgba = download<unsigned char>(gpu().colorVolume);
            long sameColour = 0;
            for (std::size_t i = 0; i < rgba.size(); ++i)
                sameColour += std::abs(rgba[i] - cpu.colorVolume->typedData()[i]) <= 1;
            EXPECT_GT(sameColour, 0.99 * rgba.size());
        }

        // The next frame, stage by stage.
        const RgbdFrame next = sensor.render(trajectory.back(), 1);
        ASSERT_EQ(cpu.preprocess(next.depth.get(), next.colour.get()), 0);
        ASSERT_EQ(gpu().preprocess(next.depth.get(), next.colour.get()), 0);
        for (int l = 0; l < 3; ++l) {
            SCOPED_TRACE("level " + std::to_string(l));
            const std::vector<unsigned short> depth = download<unsigned short>(gpu().filteredDepth(l));
            const unsigned short* expected = cpu.filteredDepth(l)->typedData();
            int worst = 0;
            for (std::size_t i = 0; i < depth.size(); ++i)
                worst = std::max(worst, std::abs(depth[i] - expected[i]));
            EXPECT_LE(worst, 1);
            const MapAgreement vertices = compareMaps(*cpu.vertexMap(l), download<float>(gpu().vertexMap(l)), 3.0f);
            EXPECT_GT(vertices.sameValidity, 0.99);
            EXPECT_GT(vertices.withinTolerance, 0.99);
            const MapAgreement normals = compareMaps(*cpu.normalMap(l), download<float>(gpu().normalMap(l)), 0.05f);
            EXPECT_GT(normals.sameValidity, 0.99);
            EXPECT_GT(normals.withinTolerance, 0.99);
        }

        ASSERT_EQ(cpu.predictSurface(), 0);
        ASSERT_EQ(gpu().predictSurface(), 0);
        const std::vector<float> hits = download<float>(gpu().validMask());
        long sameHit = 0, hitCount = 0;
        for (std::size_t i = 0; i < hits.size(); ++i) {
            sameHit += (hits[i] != 0.0f) == (cpu.validMask()->typedData()[i] != 0);
            hitCount += hits[i] != 0.0f;
        }
        EXPECT_GT(hitCount, 10000);
        EXPECT_GT(sameHit, 0.99 * hits.size());
        const std::vector<unsigned char> scene = download<unsigned char>(gpu().renderedScene());
        long sameScene = 0;
        for (std::size_t i = 0; i < scene.size(); ++i)
            sameScene += std::abs(scene[i] - cpu.renderedScene()->typedData()[i]) <= 2;
        EXPECT_GT(sameScene, 0.98 * scene.size());
        for (int l = 0; l < 3; ++l) {
            SCOPED_TRACE("prediction level " + std::to_string(l));
            const MapAgreement vertices =
                compareMaps(*cpu.predictedVertexMap(l), download<float>(gpu().predictedVertexMap(l)), 1.0f);
            EXPECT_GT(vertices.sameValidity, 0.99);
            EXPECT_GT(vertices.withinTolerance, 0.99);
            const MapAgreement normals =
                compareMaps(*cpu.predictedNormalMap(l), download<float>(gpu().predictedNormalMap(l)), 0.02f);
            EXPECT_GT(normals.sameValidity, 0.99);
            EXPECT_GT(normals.withinTolerance, 0.99);
        }

        bool cpuFuse = false, cpuTracked = false, gpuFuse = false, gpuTracked = false;
        ASSERT_EQ(cpu.trackCamera(cpuFuse, cpuTracked), 0);
        ASSERT_EQ(gpu().trackCamera(gpuFuse, gpuTracked), 0);
        EXPECT_TRUE(gpuTracked);
        EXPECT_EQ(gpuFuse, cpuFuse);
        const PoseDifference difference = poseDifference(toMatrix(gpu().pose().data()), toMatrix(cpu.pose().data()));
        EXPECT_LT(difference.translation, 1.0);
        EXPECT_LT(difference.rotationDegrees, 0.2);
        gpu().release();
    }
}

TEST_F(SurfaceReconstructionGpuTest, OrbitIsTrackedWithinToleranceOfTheTruthAndFusedWithoutBias)
{
    const SyntheticCamera sensor(SyntheticScene::tabletop(), frameCamera, DepthNoise{1.0, 0.001, 7});
    const std::vector<Eigen::Matrix4d> trajectory = tabletopOrbit(20).poses();
    ReconstructionParameters& params = newParams(trajectory.front(), 128);
    ASSERT_TRUE(gpu().init(&params));
    TypedImage<unsigned char> scene(PixelType::UnsignedByte, frameCamera.width, frameCamera.height, 1, 3);
    expectTrackedAlong(gpu(), sensor, trajectory, &scene);
    if (HasFatalFailure())
        return;
    // The caller's scene image holds the last prediction.
    const std::vector<unsigned char> rendered = download<unsigned char>(gpu().renderedScene());
    EXPECT_TRUE(std::equal(rendered.begin(), rendered.end(), scene.typedData()));
    EXPECT_NE(std::count(rendered.begin(), rendered.end(), 55), static_cast<long>(rendered.size()));

    VolumeGeometry volume;
    volume.resolution = {128, 128, 128};
    volume.voxelSize.setConstant(800.0f / 128);
    const std::vector<double> errors = surfaceErrors(volume, download<float>(gpu().tsdfVolume).data(),
                                                     download<unsigned char>(gpu().weightVolume()).data(),
                                                     sensor.scene());
    ASSERT_GT(errors.size(), 10000u);
    EXPECT_LT(std::abs(median(errors)), 0.1);  // mm
}

TEST_F(SurfaceReconstructionGpuTest, FramesTooSmallForEveryPartialSumTrackLikeTheCpu)
{
    // 64 x 48 frames: the coarsest level has 192 pixels, fewer than the
    // partial sums of one plane would cover.
    const PinholeCamera tiny = PinholeCamera().scaledDown(10);
    const SyntheticCamera sensor(SyntheticScene::tabletop(), tiny);
    const std::vector<Eigen::Matrix4d> trajectory = tabletopOrbit(6).poses();
    ReconstructionParameters cpuParams;
    configure(cpuParams, trajectory.front(), 64, tiny);
    cpuParams.minValidPixels = 50;
    ReconstructionParameters& gpuParams = newParams(trajectory.front(), 64, tiny);
    gpuParams.minValidPixels = 50;
    SurfaceReconstructionCPU cpu;
    ASSERT_TRUE(cpu.init(&cpuParams));
    ASSERT_TRUE(gpu().init(&gpuParams));
    const std::vector<RgbdFrame> frames = sensor.renderAll(trajectory);
    std::vector<int> expectedCodes;
    std::vector<Eigen::Matrix4f> expectedPoses;
    for (const RgbdFrame& frame : frames) {
        expectedCodes.push_back(cpu.processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true));
        expectedPoses.push_back(cpu.pose());
    }
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(gpu().processFrame(frames[i].depth.get(), frames[i].colour.get(), nullptr, nullptr, true),
                  expectedCodes[i])
            << "frame " << i;
        const PoseDifference difference =
            poseDifference(toMatrix(gpu().pose().data()), toMatrix(expectedPoses[i].data()));
        EXPECT_LT(difference.translation, 1.0) << "frame " << i;
        EXPECT_LT(difference.rotationDegrees, 0.2) << "frame " << i;
    }
    const long tracked = std::count(expectedCodes.begin(), expectedCodes.end(), 0);
    EXPECT_GT(tracked, 3);
}

TEST_F(SurfaceReconstructionGpuTest, TakenVolumesGiveTheCpuMesh)
{
    const SyntheticCamera sensor(SyntheticScene::tabletop(), frameCamera);
    const std::vector<Eigen::Matrix4d> trajectory = tabletopOrbit(1).poses();
    ReconstructionParameters& params = newParams(trajectory.front(), 48);
    ASSERT_TRUE(gpu().init(&params));
    const RgbdFrame frame = sensor.render(trajectory.front());
    ASSERT_EQ(gpu().processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), 0);

    std::unique_ptr<ClImage> tsdf(gpu().tsdfVolume);
    std::unique_ptr<ClImage> colours(gpu().colorVolume);
    gpu().tsdfVolume = nullptr;
    gpu().colorVolume = nullptr;
    gpu().release();
    EXPECT_FALSE(params.locked);

    TypedImage<float> hostVolume(PixelType::Float, 48, 48, 48, 1);
    ASSERT_TRUE(tsdf->read(hostVolume.data(), hostVolume.byteSize()));
    hostVolume.spacing = tsdf->spacing;
    TypedImage<unsigned char> hostColours(PixelType::UnsignedByte, 48, 48, 48, 4);
    ASSERT_TRUE(colours->read(hostColours.data(), hostColours.byteSize()));
    const auto expected = marchingCubes(hostVolume, &hostColours, 0.0f);
    ASSERT_NE(expected, nullptr);
    expected->removeDuplicateVertices();

    ClMarchingCubes cubes(testEnvironment());
    const auto mesh = cubes.computeMesh(tsdf.get(), colours.get(), 0.0f);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->vertices().size(), expected->vertices().size());
    EXPECT_EQ(mesh->faces().size(), expected->faces().size());
    EXPECT_EQ(mesh->colors().size(), mesh->vertices().size());
}

TEST_F(SurfaceReconstructionGpuTest, BadInputIsRefusedWithItsCode)
{
    const SyntheticCamera sensor(SyntheticScene::tabletop(), frameCamera);
    const std::vector<Eigen::Matrix4d> trajectory = tabletopOrbit(1).poses();
    const RgbdFrame frame = sensor.render(trajectory.front());
    const RgbdFrame small = SyntheticCamera(SyntheticScene::tabletop(), frameCamera.scaledDown(2)).render(trajectory.front());
    ReconstructionParameters& params = newParams(trajectory.front(), 32);

    EXPECT_EQ(gpu().processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), -1);
    ASSERT_TRUE(gpu().init(&params));
    TypedImage<unsigned short> twoSlices(PixelType::UnsignedShort, frameCamera.width, frameCamera.height, 2, 1);
    const double shifted[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 0, 1000, 1};
    struct Case {
        const char* name;
        const TypedImage<unsigned short>* depth;
        const TypedImage<unsigned char>* colour;
        int expected;
    } cases[] = {
        {"smaller frame", small.depth.get(), small.colour.get(), -2},
        {"no depth", nullptr, frame.colour.get(), -2},
        {"two slices", &twoSlices, frame.colour.get(), -2},
        {"no colour", frame.depth.get(), nullptr, -3},
        {"smaller colour", frame.depth.get(), small.colour.get(), -3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(gpu().processFrame(c.depth, c.colour, shifted, nullptr, true), c.expected);
    }
    // The colour failures came after the pose was taken over.
    EXPECT_FLOAT_EQ(gpu().pose()(0, 3), 5.0f);
    const std::vector<unsigned char> weights = download<unsigned char>(gpu().weightVolume());
    EXPECT_EQ(std::count(weights.begin(), weights.end(), 0), static_cast<long>(weights.size()));
}

TEST_F(SurfaceReconstructionGpuTest, LifeCycleLocksAndUnlocksTheParameters)
{
    const SyntheticCamera sensor(SyntheticScene::tabletop(), frameCamera);
    const std::vector<Eigen::Matrix4d> trajectory = tabletopOrbit(1).poses();
    const RgbdFrame frame = sensor.render(trajectory.front());
    ReconstructionParameters& params = newParams(trajectory.front(), 32);
    int signals = 0;
    const boost::signals2::scoped_connection counter = params.connect([&signals] { ++signals; });

    gpu().reset();  // before init: nothing
    ASSERT_TRUE(gpu().init(&params));
    EXPECT_TRUE(params.locked);
    EXPECT_EQ(signals, 1);

    // Without integration nothing is fused and the first-frame phase goes on.
    TypedImage<unsigned char> scene(PixelType::UnsignedByte, frameCamera.width, frameCamera.height, 1, 3);
    EXPECT_EQ(gpu().processFrame(frame.depth.get(), frame.colour.get(), nullptr, &scene, false), 0);
    std::vector<unsigned char> weights = download<unsigned char>(gpu().weightVolume());
    EXPECT_EQ(std::count(weights.begin(), weights.end(), 0), static_cast<long>(weights.size()));

    EXPECT_EQ(gpu().processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), 0);
    weights = download<unsigned char>(gpu().weightVolume());
    EXPECT_GT(std::count(weights.begin(), weights.end(), 1), 100);
    // Curvature maps follow the parameters from the next frame on.
    params.useCurvatureSelection = true;
    const double moved[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1500, 1};
    gpu().processFrame(frame.depth.get(), frame.colour.get(), moved, nullptr, false);
    for (int l = 0; l < 3; ++l) {
        const std::vector<float> curvature = download<float>(gpu().curvatureMap(l));
        EXPECT_GT(std::count_if(curvature.begin(), curvature.end(), [](float c) { return c >= 0.0f && c < 0.1f; }),
                  static_cast<long>(curvature.size() / 10));
    }
    gpu().reset();
    weights = download<unsigned char>(gpu().weightVolume());
    EXPECT_EQ(std::count(weights.begin(), weights.end(), 0), static_cast<long>(weights.size()));
    EXPECT_EQ(toMatrix(gpu().pose().data()), trajectory.front().cast<float>().cast<double>());

    gpu().release();
    EXPECT_FALSE(params.locked);
    EXPECT_EQ(signals, 2);
    gpu().release();
    EXPECT_EQ(signals, 2);
}

TEST_F(SurfaceReconstructionGpuTest, FailedInitLeavesTheParametersUnlocked)
{
    ReconstructionParameters& params = newParams(tabletopOrbit(1).poses().front(), 32);
    ASSERT_TRUE(gpu().init(&params));
    ASSERT_TRUE(params.locked);

    // Level planes of 82 x 62 and 41 x 31 pixels miss the sub-buffer alignment.
    ReconstructionParameters& odd = newParams(tabletopOrbit(1).poses().front(), 32);
    odd.imageWidth = 164;
    odd.imageHeight = 124;
    EXPECT_FALSE(gpu().init(&odd));
    EXPECT_FALSE(odd.locked);
    EXPECT_FALSE(params.locked);
    EXPECT_EQ(gpu().tsdfVolume, nullptr);

    ReconstructionParameters& tooManyLevels = newParams(tabletopOrbit(1).poses().front(), 32);
    tooManyLevels.pyramidLevels = 4;
    EXPECT_FALSE(gpu().init(&tooManyLevels));
    EXPECT_FALSE(tooManyLevels.locked);
}

TEST_F(SurfaceReconstructionGpuTest, ConstructionOnTheDefaultEnvironmentLogsTheDeviceFacts)
{
    const LogCapture log;
    const SurfaceReconstructionGPU backEnd(nullptr);
    const std::vector<std::string> prefixes = {
        "INFO Device vendor: ", "INFO Device name: ", "INFO Global device memory: ",
        "INFO Local device memory: ", "INFO Constant device memory: ", "INFO Max constant args: ",
        "INFO Max workgroups: ", "INFO Max work item sizes: ", "INFO Supported extensions:\n"};
    ASSERT_GE(log.lines().size(), prefixes.size());
    for (std::size_t i = 0; i < prefixes.size(); ++i)
        EXPECT_EQ(log.lines()[i].compare(0, prefixes[i].size(), prefixes[i]), 0) << log.lines()[i];
    EXPECT_EQ(log.lines()[2].substr(log.lines()[2].size() - 3), " MB");
    EXPECT_EQ(log.lines()[7].back(), ' ');
}

}  // namespace
}  // namespace Veltrane
