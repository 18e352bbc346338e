#include "core/Mesh.h"
#include "core/Progress.h"
#include "testsupport/PlyFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>
#include <streambuf>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace Veltrane {
namespace {

using V = Mesh::Vector;
using T = Mesh::Triple;
using Bytes = std::vector<unsigned char>;

/// The triangle (0,0,0), (1,0,0), (0,1,0) with normals (0,0,1).
Mesh oneTriangle()
{
    Mesh mesh;
    mesh.vertices() = {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0)};
    mesh.faces() = {T(0, 1, 2)};
    mesh.computeNormals();
    return mesh;
}

Bytes bytesOf(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path)
{
    return std::ifstream(path).good();
}

/// A file name in a fresh directory of its own, removed with the fixture.
class MeshFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/korvastel-mesh-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override
    {
        for (const std::string& name : m_names) {
            std::remove((m_dir + "/" + name).c_str());
        }
        rmdir(m_dir.c_str());
    }
    std::string path(const std::string& name)
    {
        m_names.push_back(name);
        return m_dir + "/" + name;
    }
    /// The names in the directory, sorted.
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string m_dir;
    std::vector<std::string> m_names;
};

// ---------------------------------------------------------------- OBJ

TEST(ObjWriter, OneTriangle)
{
    std::ostringstream out;
    ASSERT_TRUE(oneTriangle().writeObj(out, false, nullptr));
    EXPECT_EQ(out.str(),
              "vn 0 0 1\nv 0 0 0\n"
              "vn 0 0 1\nv 1 0 0\n"
              "vn 0 0 1\nv 0 1 0\n"
              "f 1//1 2//2 3//3\n");
}

TEST(ObjWriter, NegatesYAndZOfPositionsAndNormalsAndAppendsColours)
{
    Mesh mesh = oneTriangle();
    mesh.vertices()[0] = V(1, 2, 3);
    mesh.normals()[1] = V(0.5, -0.25, 0);
    mesh.colors() = {V(1, 0.5, 0), V(0, 0, 0), V(0.25, 1, 1)};
    mesh.normalIndices() = {T(2, 1, 0)};
    std::ostringstream out;
    ASSERT_TRUE(mesh.writeObj(out, true, nullptr));
    EXPECT_EQ(out.str(),
              "vn 0 -0 -1\nv 1 -2 -3 1 0.5 0\n"
              "vn 0.5 0.25 -0\nv 1 -0 -0 0 0 0\n"
              "vn 0 -0 -1\nv 0 -1 -0 0.25 1 1\n"
              "f 1//3 2//2 3//1\n");
}

TEST(ObjWriter, NeverWritesANonFiniteNormal)
{
    Mesh mesh = oneTriangle();
    mesh.normals()[2] = V(std::nan(""), 0, 1);
    std::ostringstream out;
    ASSERT_TRUE(mesh.writeObj(out, false, nullptr));
    EXPECT_NE(out.str().find("vn 0 0 0\nv 0 1 0\n"), std::string::npos) << out.str();
    EXPECT_EQ(out.str().find("nan"), std::string::npos);
}

struct RecordingProgress : Progress {
    bool setProgress(int value, int maximum) override
    {
        calls.emplace_back(value, maximum);
        return true;  // "cancelled": the writer carries on regardless
    }
    std::vector<std::pair<int, int>> calls;
};

TEST(ObjWriter, ReportsProgressEveryHundredVerticesAndFaces)
{
    Mesh mesh;
    for (int i = 0; i < 250; ++i) {
        mesh.vertices().push_back(V(i, i % 7, 0));
    }
    for (int f = 0; f < 120; ++f) {
        mesh.faces().push_back(T(f, f + 1, f + 2));
    }
    mesh.computeNormals();

    RecordingProgress progress;
    std::ostringstream withProgress;
    ASSERT_TRUE(mesh.writeObj(withProgress, false, &progress));
    // After vertices 0, 100, 200 and faces 0, 100; maximum (250 + 120) / 100.
    const std::vector<std::pair<int, int>> expected = {{0, 3}, {1, 3}, {2, 3}, {3, 3}, {4, 3}};
    EXPECT_EQ(progress.calls, expected);

    std::ostringstream without;
    ASSERT_TRUE(mesh.writeObj(without, false, nullptr));
    EXPECT_EQ(withProgress.str(), without.str());
}

// ---------------------------------------------------------------- PLY

/// Little-endian bytes of 32-bit floats and ints, written out by hand.
const Bytes zeroF = {0x00, 0x00, 0x00, 0x00};
const Bytes oneF = {0x00, 0x00, 0x80, 0x3f};
const Bytes twoF = {0x00, 0x00, 0x00, 0x40};
const Bytes threeF = {0x00, 0x00, 0x40, 0x40};
const Bytes minusZeroF = {0x00, 0x00, 0x00, 0x80};
const Bytes minusOneF = {0x00, 0x00, 0x80, 0xbf};
const Bytes minusTwoF = {0x00, 0x00, 0x00, 0xc0};
const Bytes minusThreeF = {0x00, 0x00, 0x40, 0xc0};
const Bytes zeroI = {0, 0, 0, 0};
const Bytes oneI = {1, 0, 0, 0};
const Bytes twoI = {2, 0, 0, 0};

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes plyBytes(const Mesh& mesh, bool negateYZ, bool rotateYZ)
{
    std::ostringstream out(std::ios::binary);
    EXPECT_TRUE(mesh.writePly(out, negateYZ, rotateYZ));
    return bytesOf(out.str());
}

TEST(PlyWriter, OneTriangle)
{
    const Bytes expected = concat({bytesOf("ply\n"
                                           "format binary_little_endian 1.0\n"
                                           "element vertex 3\n"
                                           "property float x\n"
                                           "property float y\n"
                                           "property float z\n"
                                           "element face 1\n"
                                           "property list uchar int vertex_indices\n"
                                           "end_header\n"),
                                   zeroF, zeroF, zeroF,  // vertex 0
                                   oneF, zeroF, zeroF,   // vertex 1
                                   zeroF, oneF, zeroF,   // vertex 2
                                   Bytes{3}, zeroI, oneI, twoI});
    EXPECT_EQ(plyBytes(oneTriangle(), false, false), expected);
}

TEST(PlyWriter, CoordinateOptions)
{
    struct Case {
        bool negateYZ;
        bool rotateYZ;
        Bytes vertex;
    };
    const Case cases[] = {
        {false, false, concat({oneF, twoF, threeF})},
        {true, false, concat({oneF, minusTwoF, minusThreeF})},
        {false, true, concat({oneF, minusThreeF, twoF})},
        {true, true, concat({oneF, threeF, minusTwoF})},
    };
    Mesh mesh = oneTriangle();
    mesh.vertices()[0] = V(1, 2, 3);
    mesh.vertices()[2] = V(0, 1, 0);
    for (const Case& c : cases) {
        const Bytes ply = plyBytes(mesh, c.negateYZ, c.rotateYZ);
        const std::size_t body = ply.size() - 3 * 12 - 13;
        EXPECT_EQ(Bytes(ply.begin() + body, ply.begin() + body + 12), c.vertex)
            << c.negateYZ << c.rotateYZ;
    }
    // A zero component turns into negative zero.
    const Bytes negated = plyBytes(mesh, true, false);
    const std::size_t third = negated.size() - 12 - 13;
    EXPECT_EQ(Bytes(negated.begin() + third, negated.begin() + third + 12),
              concat({zeroF, minusOneF, minusZeroF}));
}

TEST(PlyWriter, ColourBytesAreClampedAndTruncated)
{
    Mesh mesh;
    mesh.vertices() = {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), V(1, 1, 0)};
    mesh.faces() = {T(0, 1, 2), T(1, 3, 2)};
    mesh.colors() = {V(1.0, 0.5, 0.999), V(0, 0.0001, 1.5), V(-0.2, 2.0, std::nan("")), V(0.1, 0.2, 0.3)};

    const Bytes ply = plyBytes(mesh, false, false);
    const std::string text(ply.begin(), ply.end());
    const std::size_t headerEnd = text.find("end_header\n") + 11;
    ASSERT_NE(text.find("property uchar red\nproperty uchar green\nproperty uchar blue\n"), std::string::npos);
    ASSERT_EQ(ply.size() - headerEnd, 60u + 26u);  // 4 records of 15 bytes, 2 of 13

    const Bytes colors[] = {{255, 127, 254}, {0, 0, 255}, {0, 255, 0}, {25, 51, 76}};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto record = ply.begin() + static_cast<std::ptrdiff_t>(headerEnd + 15 * i + 12);
        EXPECT_EQ(Bytes(record, record + 3), colors[i]) << "vertex " << i;
    }

    // One colour fewer than vertices: no colours at all.
    mesh.colors().pop_back();
    const Bytes plain = plyBytes(mesh, false, false);
    const std::string plainText(plain.begin(), plain.end());
    EXPECT_EQ(plainText.find("uchar red"), std::string::npos);
    EXPECT_EQ(plain.size() - (plainText.find("end_header\n") + 11), 48u + 26u);
}

TEST_F(MeshFiles, PlyReadsBackInAReaderThatFollowsItsHeader)
{
    // A closed octahedron with a colour per vertex.
    Mesh mesh;
    mesh.vertices() = {V(10, 0, 0), V(-10, 0, 0), V(0, 10, 0), V(0, -10, 0), V(0, 0, 10), V(0, 0, -10.5)};
    mesh.faces() = {T(0, 2, 4), T(2, 1, 4), T(1, 3, 4), T(3, 0, 4),
                    T(2, 0, 5), T(1, 2, 5), T(3, 1, 5), T(0, 3, 5)};
    for (std::size_t i = 0; i < mesh.vertices().size(); ++i) {
        mesh.colors().push_back(V(i / 5.0, 1 - i / 5.0, 0.5));
    }
    mesh.colorIndices() = mesh.faces();
    const std::string file = path("octahedron.ply");
    ASSERT_TRUE(mesh.savePly(file, true));

    const PlyContents ply = readPly(readFile(file));
    EXPECT_EQ(ply.format, "binary_little_endian");
    ASSERT_EQ(ply.vertices.size(), mesh.vertices().size());
    for (std::size_t i = 0; i < mesh.vertices().size(); ++i) {
        const V& v = mesh.vertices()[i];
        std::map<std::string, double> record = ply.vertices[i];
        EXPECT_EQ(record["x"], v.x());
        EXPECT_EQ(record["y"], -v.y());
        EXPECT_EQ(record["z"], -v.z());
        for (int c = 0; c < 3; ++c) {
            const char* name[] = {"red", "green", "blue"};
            EXPECT_EQ(record[name[c]], std::floor(mesh.colors()[i][c] * 255)) << name[c];
        }
    }
    ASSERT_EQ(ply.faces.size(), mesh.faces().size());
    for (std::size_t f = 0; f < mesh.faces().size(); ++f) {
        const T& face = mesh.faces()[f];
        EXPECT_EQ(ply.faces[f], (std::vector<long>{face[0], face[1], face[2]}));
    }
}

TEST_F(MeshFiles, WritersRefuseMeshesTheyCannotWrite)
{
    Mesh noNormals = oneTriangle();
    noNormals.normals().clear();
    Mesh noFaces = oneTriangle();
    noFaces.faces().clear();
    Mesh badIndex = oneTriangle();
    badIndex.faces()[0][1] = 3;

    for (const Mesh* mesh : {&noNormals, &noFaces, &badIndex}) {
        std::ostringstream obj;
        EXPECT_FALSE(mesh->writeObj(obj, false, nullptr));
        EXPECT_TRUE(obj.str().empty());
        const std::string stl = path("refused.stl");
        EXPECT_FALSE(mesh->saveStl(stl, false));
        EXPECT_FALSE(fileExists(stl));
    }
    for (const Mesh* mesh : {&noFaces, &badIndex}) {
        std::ostringstream ply;
        EXPECT_FALSE(mesh->writePly(ply, false, false));
        EXPECT_TRUE(ply.str().empty());
    }
    // PLY has no normals to need.
    std::ostringstream ply;
    EXPECT_TRUE(noNormals.writePly(ply, false, false));

    // A stream already in error gets nothing.
    std::ostringstream failed;
    failed.setstate(std::ios::badbit);
    EXPECT_FALSE(oneTriangle().writeObj(failed, false, nullptr));
    EXPECT_FALSE(oneTriangle().writePly(failed, false, false));
}

TEST_F(MeshFiles, RefusedObjLeavesAnExistingFileAlone)
{
    const std::string file = path("kept.obj");
    std::ofstream(file) << "earlier scan\n";
    Mesh noNormals = oneTriangle();
    noNormals.normals().clear();
    EXPECT_FALSE(noNormals.saveObj(file, false, nullptr));
    EXPECT_EQ(readFile(file), bytesOf("earlier scan\n"));

    ASSERT_TRUE(oneTriangle().saveObj(file, false, nullptr));
    std::ostringstream expected;
    oneTriangle().writeObj(expected, false, nullptr);
    EXPECT_EQ(readFile(file), bytesOf(expected.str()));
}

/// A stream that takes `capacity` bytes and then fails, like a full disk.
class FullBuffer : public std::streambuf {
public:
    explicit FullBuffer(std::size_t capacity) : m_capacity(capacity) {}

protected:
    int_type overflow(int_type c) override
    {
        if (m_written >= m_capacity) {
            return traits_type::eof();
        }
        ++m_written;
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char*, std::streamsize n) override
    {
        const auto room = static_cast<std::streamsize>(m_capacity - m_written);
        const std::streamsize taken = std::min(n, room);
        m_written += static_cast<std::size_t>(taken);
        return taken;
    }

private:
    std::size_t m_capacity;
    std::size_t m_written = 0;
};

TEST_F(MeshFiles, WriteFailuresAreReported)
{
    const Mesh mesh = oneTriangle();
    for (const std::size_t capacity : {std::size_t{10}, std::size_t{170}, std::size_t{200}}) {
        FullBuffer buffer(capacity);
        std::ostream out(&buffer);
        EXPECT_FALSE(mesh.writePly(out, false, false)) << capacity;
        FullBuffer objBuffer(capacity / 4);
        std::ostream obj(&objBuffer);
        EXPECT_FALSE(mesh.writeObj(obj, false, nullptr)) << capacity;
    }

    const std::string missingFolder = path("missing") + "/mesh";
    EXPECT_FALSE(mesh.savePly(missingFolder + ".ply", false));
    EXPECT_FALSE(mesh.saveObj(missingFolder + ".obj", false, nullptr));
    EXPECT_FALSE(mesh.saveStl(missingFolder + ".stl", false));

    if (fileExists("/dev/full")) {
        EXPECT_FALSE(mesh.savePly("/dev/full", false));
        EXPECT_FALSE(mesh.saveObj("/dev/full", false, nullptr));
        EXPECT_FALSE(mesh.saveStl("/dev/full", false));
    }
}

/// While it lives, no file of this process grows beyond `bytes`: writes past
/// the limit fail as on a full disk (EFBIG; the SIGXFSZ that would end the
/// process is ignored meanwhile).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = SIG_DFL;
};

TEST_F(MeshFiles, FailedSavesLeaveTheEarlierFileAsItWas)
{
    struct Writer {
        const char* extension;
        bool (*save)(const Mesh&, const std::string&);
    };
    const Writer writers[] = {
        {"obj", [](const Mesh& mesh, const std::string& file) { return mesh.saveObj(file, false, nullptr); }},
        {"ply", [](const Mesh& mesh, const std::string& file) { return mesh.savePly(file, false); }},
        {"stl", [](const Mesh& mesh, const std::string& file) { return mesh.saveStl(file, false); }},
    };
    for (const Writer& writer : writers) {
        SCOPED_TRACE(writer.extension);
        const std::string name = std::string("scan.") + writer.extension;
        const std::string file = path(name);
        const std::string earlier = "earlier scan\n";
        std::ofstream(file) << earlier;

        EXPECT_FALSE(writer.save(Mesh(), file)) << "empty mesh";
        EXPECT_EQ(readFile(file), bytesOf(earlier)) << "empty mesh";
        {
            const FileSizeLimit fullDisk(40);
            EXPECT_FALSE(writer.save(oneTriangle(), file)) << "full disk";
        }
        EXPECT_EQ(readFile(file), bytesOf(earlier)) << "full disk";
        EXPECT_EQ(entries(), std::vector<std::string>{name}) << "nothing left behind";
        std::remove(file.c_str());
    }
}

TEST_F(MeshFiles, SavingReplacesTheFileBehindItsNameAndKeepsItsPermissions)
{
    const std::string file = path("scan.ply");
    const std::string link = path("latest.ply");
    std::ofstream(file) << "earlier scan\n";
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    ASSERT_EQ(symlink("scan.ply", link.c_str()), 0);

    ASSERT_TRUE(oneTriangle().savePly(link, false));
    std::ostringstream expected(std::ios::binary);
    ASSERT_TRUE(oneTriangle().writePly(expected, false, false));
    EXPECT_EQ(readFile(file), bytesOf(expected.str()));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::status(file).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
    EXPECT_EQ(entries(), (std::vector<std::string>{"latest.ply", "scan.ply"}));
}

// ---------------------------------------------------------------- STL

TEST_F(MeshFiles, StlOneTriangle)
{
    Mesh mesh = oneTriangle();
    mesh.vertices()[0] = V(1, 2, 3);
    mesh.normals()[0] = V(0, 1, 1);  // the facet normal normalises the sum
    mesh.normals()[1] = V(0, -1, 1);
    mesh.normals()[2] = V(0, 0, -std::sqrt(2.0) + 1);
    const std::string file = path("triangle.stl");
    ASSERT_TRUE(mesh.saveStl(file, true));
    const Bytes expected = concat({Bytes(80, 0), oneI,
                                   zeroF, minusZeroF, minusOneF,     // facet normal
                                   oneF, minusTwoF, minusThreeF,     // a
                                   oneF, minusZeroF, minusZeroF,     // b
                                   zeroF, minusOneF, minusZeroF,     // c
                                   Bytes{0, 0}});
    EXPECT_EQ(readFile(file), expected);
}

TEST_F(MeshFiles, StlFacetNormalIsZeroWithoutDirection)
{
    Mesh mesh;
    mesh.vertices() = {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), V(1, 1, 0)};
    mesh.faces() = {T(0, 1, 2), T(1, 3, 2)};
    mesh.normals() = {V(0, 0, 1), V(0, 0, -1), V(0, 0, 0), V(std::nan(""), 0, 0)};
    const Bytes zeroNormal = concat({zeroF, zeroF, zeroF});

    // No normal indices; corner normals that cancel, and a NaN one.
    for (const std::vector<T>& normalIndices : {std::vector<T>{}, std::vector<T>{T(0, 1, 2), T(3, 0, 0)}}) {
        mesh.normalIndices() = normalIndices;
        const std::string file = path("facets.stl");
        ASSERT_TRUE(mesh.saveStl(file, false));
        const Bytes stl = readFile(file);
        ASSERT_EQ(stl.size(), 84u + 50u * 2);
        EXPECT_EQ(Bytes(stl.begin() + 84, stl.begin() + 96), zeroNormal) << normalIndices.size();
        EXPECT_EQ(Bytes(stl.begin() + 134, stl.begin() + 146), zeroNormal) << normalIndices.size();
    }
}

}  // namespace
}  // namespace Veltrane
