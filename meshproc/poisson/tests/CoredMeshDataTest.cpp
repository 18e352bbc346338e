#include "meshproc/poisson/CoredMeshData.h"
#include "meshproc/poisson/ReconstructionError.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

using namespace Veltrane::PoissonReconstruction;
namespace fs = std::filesystem;

namespace {

// Runs each test with a fresh temporary folder (TMPDIR) and a fresh working
// folder apart from it.
class CoredMeshDataTest : public testing::Test {
protected:
    void SetUp() override
    {
        previous_ = fs::current_path();
        const char* tmpdir = std::getenv("TMPDIR");
        previousTmpdir_ = tmpdir ? std::optional<std::string>(tmpdir) : std::nullopt;
        folder_ = freshFolder("coredXXXXXX");
        work_ = freshFolder("workXXXXXX");
        ASSERT_FALSE(folder_.empty());
        ASSERT_FALSE(work_.empty());
        setenv("TMPDIR", folder_.c_str(), 1);
        fs::current_path(work_);
    }
    void TearDown() override
    {
        fs::current_path(previous_);
        if (previousTmpdir_)
            setenv("TMPDIR", previousTmpdir_->c_str(), 1);
        else
            unsetenv("TMPDIR");
        fs::remove_all(folder_);
        fs::remove_all(work_);
    }

    static fs::path freshFolder(const char* name)
    {
        std::string pattern = (fs::temp_directory_path() / name).string();
        return mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
    }

    static size_t filesIn(const fs::path& folder)
    {
        return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

    static std::vector<int32_t> fileInts(const std::string& name)
    {
        std::ifstream in(name, std::ios::binary);
        std::vector<int32_t> values;
        int32_t value;
        while (in.read(reinterpret_cast<char*>(&value), sizeof(value)))
            values.push_back(value);
        return values;
    }

    fs::path previous_;
    std::optional<std::string> previousTmpdir_;
    fs::path folder_;
    fs::path work_;
};

PlyVertex vertexNumber(int i)
{
    PlyVertex v;
    v.point = Point3D<float>{{float(i), float(i) + 0.25f, -float(i)}};
    return v;
}

}  // namespace

TEST_F(CoredMeshDataTest, PolygonsRoundTripWithCornerEncoding)
{
    CoredFileMeshData<PlyVertex> mesh;
    const std::vector<std::vector<PolygonCorner>> polygons = {
        {{5, true}, {0, false}, {7, false}},
        {},
        {{0, true}, {1, true}, {2, true}, {3, false}},
    };
    for (size_t i = 0; i < polygons.size(); ++i)
        EXPECT_EQ(mesh.appendPolygon(polygons[i]), int32_t(i));
    EXPECT_EQ(mesh.polygonTotal(), 3);
    mesh.rewind();
    EXPECT_EQ(fileInts(mesh.polygonFile().fileName()), (std::vector<int32_t>{3, 5, -1, -8, 0, 4, 0, 1, 2, -4}));
    std::vector<PolygonCorner> polygon{{9, true}};
    for (const std::vector<PolygonCorner>& expected : polygons) {
        ASSERT_TRUE(mesh.readNextPolygon(polygon));
        EXPECT_EQ(polygon, expected);
    }
    EXPECT_FALSE(mesh.readNextPolygon(polygon));
    EXPECT_EQ(mesh.polygonTotal(), 3);
}

TEST_F(CoredMeshDataTest, PointsStraddlingTheBufferReadBackIntact)
{
    CoredFileMeshData<PlyVertex> mesh;
    const int count = TempFileBuffer::defaultBufferSize / int(sizeof(PlyVertex)) + 2;
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(mesh.appendOutOfCorePoint(vertexNumber(i)), i);
    EXPECT_EQ(mesh.outOfCorePointTotal(), count);
    mesh.rewind();
    EXPECT_EQ(fs::file_size(mesh.vertexFile().fileName()), size_t(count) * sizeof(PlyVertex));
    PlyVertex v;
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(mesh.readNextOutOfCorePoint(v)) << i;
        for (int axis = 0; axis < 3; ++axis)
            ASSERT_EQ(v.point[axis], vertexNumber(i).point[axis]) << i;
    }
    EXPECT_FALSE(mesh.readNextOutOfCorePoint(v));
}

TEST_F(CoredMeshDataTest, ValueVerticesUseSixteenBytes)
{
    CoredFileMeshData<PlyValueVertex> mesh;
    PlyValueVertex v;
    v.point = Point3D<float>{{1, 2, 3}};
    v.value = 4;
    mesh.appendOutOfCorePoint(v);
    mesh.rewind();
    EXPECT_EQ(fs::file_size(mesh.vertexFile().fileName()), 16u);
    PlyValueVertex back;
    ASSERT_TRUE(mesh.readNextOutOfCorePoint(back));
    EXPECT_EQ(back.value, 4);
    EXPECT_EQ(back.point[2], 3);
}

TEST_F(CoredMeshDataTest, FullBufferIsFlushedByTheWriteThatFillsIt)
{
    TempFileBuffer file;
    std::vector<char> bytes(TempFileBuffer::defaultBufferSize);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7);
    EXPECT_TRUE(file.write(bytes.data(), bytes.size()));
    EXPECT_EQ(fs::file_size(file.fileName()), bytes.size());
    file.rewind();
    EXPECT_EQ(fs::file_size(file.fileName()), bytes.size());
    std::vector<char> back(bytes.size());
    ASSERT_TRUE(file.read(back.data(), back.size()));
    EXPECT_EQ(back, bytes);
    char extra;
    EXPECT_FALSE(file.read(&extra, 1));
}

TEST_F(CoredMeshDataTest, FileEndingInsideARecordIsAnError)
{
    TempFileBuffer file;
    const char bytes[6] = {1, 2, 3, 4, 5, 6};
    file.write(bytes, sizeof(bytes));
    file.rewind();
    int32_t value;
    ASSERT_TRUE(file.read(&value, sizeof(value)));
    testing::internal::CaptureStderr();
    EXPECT_THROW(file.read(&value, sizeof(value)), ReconstructionError);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("[ERROR]"), std::string::npos);
}

TEST_F(CoredMeshDataTest, FilesGoToTheTemporaryFolderAndLeaveNothingBehind)
{
    std::ofstream(folder_ / "fooexisting") << "keep me";
    {
        CoredFileMeshData<PlyVertex> first;
        CoredFileMeshData<PlyVertex> second;
        EXPECT_EQ(filesIn(folder_), 5u);
        for (const TempFileBuffer* file : {&first.vertexFile(), &first.polygonFile(), &second.vertexFile()}) {
            EXPECT_EQ(file->fileName().rfind((folder_ / "foo").string(), 0), 0u) << file->fileName();
            EXPECT_TRUE(fs::exists(file->fileName()));
        }
        EXPECT_NE(first.vertexFile().fileName(), second.vertexFile().fileName());
        first.appendOutOfCorePoint(vertexNumber(1));
        EXPECT_EQ(filesIn(work_), 0u) << "nothing goes to the working folder";
    }
    EXPECT_EQ(filesIn(folder_), 1u);
    std::ifstream kept(folder_ / "fooexisting");
    std::string text;
    std::getline(kept, text);
    EXPECT_EQ(text, "keep me");
}

TEST_F(CoredMeshDataTest, UnusableTemporaryFolderFailsWithMessage)
{
    const fs::path gone = folder_ / "gone";
    setenv("TMPDIR", gone.c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_THROW(CoredFileMeshData<PlyVertex>(), ReconstructionError);
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("[ERROR] Failed to open file: " + (gone / "foo").string(), 0),
              0u);
    EXPECT_EQ(filesIn(work_), 0u);
}
