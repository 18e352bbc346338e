#include "core/ClImage.h"
#include "core/ClKernel.h"
#include "core/ClProgram.h"
#include "testsupport/ClTestSupport.h"
#include "testsupport/LogCapture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <stdexcept>

namespace Veltrane {
namespace {

// Test kernels go in front of an embedded source through the header.
const char* const testKernels = R"(
__kernel void echo(__global float* out, uchar flag, int i, uint u, float f, float4 array,
                   int4 i3, float3 f3, float4 f4, __local float* scratch)
{
    if (get_global_id(0) != 0)
        return;
    scratch[0] = f;
    const float values[] = {flag, i, u, scratch[0], array.x, array.y, array.z, array.w,
                            i3.x, i3.y, i3.z, i3.w, f3.x, f3.y, f3.z, f4.x, f4.y, f4.z, f4.w};
    for (int k = 0; k < 19; ++k)
        out[k] = values[k];
}

// Writes each element's own index; the grid may be larger than the volume.
__kernel void indexVolume(__global int* out, int4 size)
{
    const int x = get_global_id(0), y = get_global_id(1), z = get_global_id(2);
    if (x >= size.x || y >= size.y || z >= size.z)
        return;
    const int index = (z * size.y + y) * size.x + x;
    out[index] = index;
}
)";

class ClProgramTest : public ClSharedObjectTest<ClProgramTest, ClProgram> {
public:
    static std::unique_ptr<ClProgram> create(ClEnvironment* environment)
    {
        return std::make_unique<ClProgram>("Reduction", testKernels, "", environment);
    }

protected:
    static ClProgram& program() { return shared(); }
};

TEST_F(ClProgramTest, ArgumentSettersPassTheirValuesToTheKernel)
{
    const auto kernel = program().createKernel("echo");
    ClImage out(ClMemoryKind::Buffer, ClMemoryAccess::WriteOnly, Image(PixelType::Float, 19, 1, 1, 1),
                nullptr, 0, 0, environment());
    const float array[4] = {1.5f, 2.5f, 3.5f, 4.5f};
    EXPECT_EQ(kernel->setArgImage(0, &out), CL_SUCCESS);
    EXPECT_EQ(kernel->setArgByte(1, true), CL_SUCCESS);
    EXPECT_EQ(kernel->setArgScalar(2, -7), CL_SUCCESS);
    EXPECT_EQ(kernel->setArgScalar(3, 4000000000u), CL_SUCCESS);
    EXPECT_EQ(kernel->setArgScalar(4, 0.25f), CL_SUCCESS);
    EXPECT_EQ(kernel->setArgArray(5, array, 4), CL_SUCCESS);
    EXPECT_EQ(kernel->setArgInt3(6, 1, -2, 3), CL_SUCCESS);
    EXPECT_EQ(kernel->setArgFloat3(7, 0.5f, -1.5f, 2.0f), CL_SUCCESS);
    EXPECT_EQ(kernel->setArgFloat4(8, 9.0f, 8.0f, 7.0f, 6.0f), CL_SUCCESS);
    EXPECT_EQ(kernel->setArgLocal(9, 16 * sizeof(float)), CL_SUCCESS);
    EXPECT_NE(kernel->setArgScalar(10, 1), CL_SUCCESS);  // no such argument

    std::size_t size = 1;
    ASSERT_TRUE(kernel->setWorkSize(1, &size));
    ASSERT_EQ(kernel->run(), CL_SUCCESS);
    std::vector<float> values(19);
    ASSERT_TRUE(out.read(values.data(), sizeof(float) * values.size()));
    const std::vector<float> expected = {1,    -7,   4e9f, 0.25f, 1.5f, 2.5f, 3.5f,
                                         4.5f, 1,    -2,   3,     0,    0.5f, -1.5f,
                                         2.0f, 9.0f, 8.0f, 7.0f,  6.0f};
    EXPECT_EQ(values, expected);
}

TEST_F(ClProgramTest, PaddedGridsLeaveNothingOutsideTheVolume)
{
    const auto kernel = program().createKernel("indexVolume");
    struct Case {
        int dims;
        int size[3];
    };
    const Case cases[] = {{1, {1000, 1, 1}}, {2, {37, 23, 1}}, {3, {9, 7, 5}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dims);
        const int count = c.size[0] * c.size[1] * c.size[2];
        std::vector<int> sentinel(count + 16, -1);
        ClImage out(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite,
                    Image(PixelType::Int, count + 16, 1, 1, 1), sentinel.data(), 0, 0,
                    environment());
        kernel->setArgImage(0, &out);
        kernel->setArgInt3(1, c.size[0], c.size[1], c.size[2]);

        std::size_t sizes[3] = {std::size_t(c.size[0]), std::size_t(c.size[1]),
                                std::size_t(c.size[2])};
        std::size_t local[3] = {0, 0, 0};
        ASSERT_TRUE(kernel->setWorkSize(c.dims, sizes, local));
        const auto expectedLocal = ClKernel::localSizesFor(c.dims, kernel->maxWorkGroupSize());
        for (int d = 0; d < c.dims; ++d) {
            EXPECT_EQ(local[d], expectedLocal[d]);
            EXPECT_EQ(sizes[d] % local[d], 0u);
            EXPECT_GE(sizes[d], std::size_t(c.size[d]));
            EXPECT_LT(sizes[d], std::size_t(c.size[d]) + local[d]);
        }
        ASSERT_EQ(kernel->run(), CL_SUCCESS);

        std::vector<int> values(count + 16);
        ASSERT_TRUE(out.read(values.data(), sizeof(int) * values.size()));
        std::vector<int> expected(count);
        std::iota(expected.begin(), expected.end(), 0);
        expected.resize(count + 16, -1);
        EXPECT_EQ(values, expected);
    }
}

TEST(ClKernelWorkSizes, LocalSizesFollowTheWorkGroupLimit)
{
    struct Case {
        std::size_t limit;
        std::array<std::size_t, 3> oneD, twoD, threeD;
    };
    const Case cases[] = {
        {256, {256, 1, 1}, {16, 16, 1}, {8, 8, 4}},
        {512, {512, 1, 1}, {32, 16, 1}, {8, 8, 8}},
        {1024, {1024, 1, 1}, {64, 16, 1}, {8, 8, 16}},
        {2048, {2048, 1, 1}, {64, 32, 1}, {16, 16, 8}},
        {4096, {4096, 1, 1}, {128, 32, 1}, {16, 16, 16}},
        // Limits below the shapes' minimum still give usable, non-zero sizes.
        {8, {8, 1, 1}, {8, 1, 1}, {8, 1, 1}},
        {32, {32, 1, 1}, {16, 2, 1}, {32, 1, 1}},
        {1, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        EXPECT_EQ(ClKernel::localSizesFor(1, c.limit), c.oneD);
        EXPECT_EQ(ClKernel::localSizesFor(2, c.limit), c.twoD);
        EXPECT_EQ(ClKernel::localSizesFor(3, c.limit), c.threeD);
        for (int dims = 1; dims <= 3; ++dims) {
            const auto local = ClKernel::localSizesFor(dims, c.limit);
            EXPECT_LE(local[0] * local[1] * local[2], c.limit);
        }
    }
}

TEST_F(ClProgramTest, UnsizedKernelsAreRefusedByTheDevice)
{
    const auto kernel = program().createKernel("indexVolume");
    LogCapture log;
    EXPECT_NE(kernel->run(), CL_SUCCESS);
    EXPECT_EQ(log.countStartingWith("ERROR Couldn't enqueue kernel ("), 1u);

    std::size_t sizes[4] = {8, 8, 8, 8};
    EXPECT_FALSE(kernel->setWorkSize(0, sizes));
    EXPECT_FALSE(kernel->setWorkSize(4, sizes));
    EXPECT_EQ(sizes[0], 8u);
    EXPECT_NE(kernel->run(), CL_SUCCESS);
}

TEST_F(ClProgramTest, WorkGroupQueriesReportTheKernelsLimits)
{
    const auto kernel = program().createKernel("indexVolume");
    EXPECT_GT(kernel->maxWorkGroupSize(), 0u);
    EXPECT_LE(kernel->maxWorkGroupSize(), environment()->device()->maxWorkGroupSize());
    int error = 0;
    EXPECT_EQ(kernel->workGroupInfo(0x7fff, &error), 0u);
    EXPECT_NE(error, CL_SUCCESS);
}

TEST_F(ClProgramTest, MissingKernelThrowsWithItsCode)
{
    LogCapture log;
    EXPECT_EQ(thrownBy([] { program().createKernel("noSuchKernel"); }),
              "Couldn't create OpenCL kernel");
    EXPECT_EQ(log.countStartingWith("ERROR Couldn't create OpenCL kernel ("), 1u);
}

TEST_F(ClProgramTest, MissingSourceNamesTheFile)
{
    LogCapture log;
    EXPECT_EQ(thrownBy([] { ClProgram("NoSuchProgram", "", "", environment()); }),
              "Missing OpenCL program");
    EXPECT_TRUE(log.contains("ERROR Could not load OpenCL program NoSuchProgram.cl"));
}

TEST_F(ClProgramTest, CompileErrorsThrowAndLogTheBuildLog)
{
    const cl_uint references = contextReferences(environment());
    LogCapture log;
    EXPECT_EQ(thrownBy([] {
                  ClProgram("Reduction", "__kernel void broken( { undeclaredName; }\n", "",
                            environment());
              }),
              "Couldn't build OpenCL program");
    EXPECT_TRUE(log.contains("ERROR Couldn't build OpenCL program (" +
                             std::to_string(CL_BUILD_PROGRAM_FAILURE) + ")"));
    ASSERT_EQ(log.countStartingWith("ERROR Build log: "), 1u);
    for (const std::string& line : log.lines()) {
        if (line.rfind("ERROR Build log: ", 0) == 0) {
            EXPECT_NE(line.find("error"), std::string::npos) << line;
        }
    }
    EXPECT_EQ(contextReferences(environment()), references);  // the failed program is gone
}

TEST_F(ClProgramTest, OptionsDefinePreprocessorNames)
{
    const std::string needsMarker = "#ifndef MARKER\n#error MARKER is not defined\n#endif\n";
    LogCapture log;
    EXPECT_EQ(thrownBy([&] { ClProgram("Reduction", needsMarker, "", environment()); }),
              "Couldn't build OpenCL program");

    ClProgram marked("Reduction", needsMarker, "-D MARKER", environment());
    EXPECT_NE(marked.id(), nullptr);
    EXPECT_EQ(marked.options(), "-D MARKER");
    EXPECT_EQ(marked.device(), environment()->device());
}

TEST_F(ClProgramTest, ChangedOptionsRebuildAndEqualOnesDoNot)
{
    ClProgram reduction("Reduction", "", "-D TYPENAME=float", environment());
    const auto floatKernel = reduction.createKernel("reduce");
    const cl_program first = reduction.id();

    EXPECT_FALSE(reduction.setOptions("-D TYPENAME=float"));
    EXPECT_EQ(reduction.id(), first);

    EXPECT_TRUE(reduction.setOptions("-D TYPENAME=int"));
    EXPECT_EQ(reduction.options(), "-D TYPENAME=int");
    EXPECT_NE(reduction.id(), nullptr);
    // The kernel made before the rebuild keeps its own code.
    EXPECT_TRUE(floatKernel->isValid());
    EXPECT_GT(floatKernel->maxWorkGroupSize(), 0u);
    EXPECT_NE(reduction.createKernel("reduce"), nullptr);
}

TEST_F(ClProgramTest, OnlyBuildLogsWithContentAreReported)
{
    LogCapture quiet;
    ClProgram clean("Reduction", "", "", environment());
    EXPECT_EQ(quiet.countStartingWith("INFO Build log: "), 0u);

    // A text of its own, so that no cached binary without a log stands in.
    const std::string unique =
        "__constant long buildStamp = " +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ";";
    LogCapture warned;
    ClProgram noisy("Reduction", "#warning an unusual build\n" + unique + "\n", "",
                    environment());
    ASSERT_EQ(warned.countStartingWith("INFO Build log: "), 1u);
    for (const std::string& line : warned.lines()) {
        if (line.rfind("INFO Build log: ", 0) == 0) {
            EXPECT_NE(line.find("an unusual build"), std::string::npos);
            EXPECT_FALSE(std::isspace(static_cast<unsigned char>(line.back())));
            EXPECT_FALSE(std::isspace(static_cast<unsigned char>(line[16])));
        }
    }
}

}  // namespace
}  // namespace Veltrane
