#include "app/HoleFilling.h"

#include "core/Mesh.h"
#include "meshproc/tests/MeshFixtures.h"
#include "testsupport/LogCapture.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <limits>
#include <map>
#include <regex>

namespace Veltrane {
namespace {

constexpr double sphereRadius = 10.0;
/// Colours are positions divided by this, so a colour tells where its vertex
/// was.
constexpr double colourScale = 32.0;

Mesh::Vector colourAt(const Mesh::Vector& position)
{
    return position / colourScale;
}

/// Height above which the sphere's cap is cut away.
double capCut()
{
    return testing::sphereCentre().z() + 0.6 * sphereRadius;
}

/// A marching-cubes sphere with the cap above capCut() cut away (vertices
/// left unused go too), coloured by position, with vertex normals.
Mesh openColouredSphere()
{
    const std::unique_ptr<Mesh> sphere = testing::marchingCubesSphere(sphereRadius);
    const double cut = capCut();
    Mesh open;
    std::map<int, int> renumbered;
    for (const Mesh::Triple& face : sphere->faces()) {
        const Mesh::Vector centroid = (sphere->vertices()[std::size_t(face[0])]
                                       + sphere->vertices()[std::size_t(face[1])]
                                       + sphere->vertices()[std::size_t(face[2])])
                                      / 3.0;
        if (centroid.z() > cut)
            continue;
        Mesh::Triple kept;
        for (int k = 0; k < 3; ++k) {
            const auto [entry, added] =
                renumbered.try_emplace(face[k], static_cast<int>(open.vertices().size()));
            if (added)
                open.vertices().push_back(sphere->vertices()[std::size_t(face[k])]);
            kept[k] = entry->second;
        }
        open.faces().push_back(kept);
    }
    for (const Mesh::Vector& v : open.vertices())
        open.colors().push_back(colourAt(v));
    open.colorIndices() = open.faces();
    open.computeNormals();
    return open;
}

double distanceToNearest(const Mesh::Vector& p, const std::vector<Mesh::Vector>& points)
{
    double best = std::numeric_limits<double>::infinity();
    for (const Mesh::Vector& q : points)
        best = std::min(best, (p - q).norm());
    return best;
}

/// For as long as it lives, the process works in a folder that no longer
/// exists, so that nothing can be written there, and keeps its temporary
/// files (TMPDIR) in a fresh folder.
class UnwritableWorkingFolder {
public:
    UnwritableWorkingFolder() : m_previousWork(QDir::currentPath()), m_previousTemp(qgetenv("TMPDIR"))
    {
        QDir::setCurrent(m_work.path());
        m_work.remove();
        qputenv("TMPDIR", temp.path().toLocal8Bit());
    }
    ~UnwritableWorkingFolder()
    {
        QDir::setCurrent(m_previousWork);
        if (m_previousTemp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_previousTemp);
    }
    UnwritableWorkingFolder(const UnwritableWorkingFolder&) = delete;
    UnwritableWorkingFolder& operator=(const UnwritableWorkingFolder&) = delete;

    QTemporaryDir temp;

private:
    QTemporaryDir m_work;
    QString m_previousWork;
    QByteArray m_previousTemp;
};

TEST(HoleFilling, ClosesASphereWithItsCapCutAwayAndCarriesTheNearestColours)
{
    const Mesh open = openColouredSphere();
    ASSERT_FALSE(testing::closedManifold(open)) << "the fixture has a hole";
    const Mesh before = open;

    std::unique_ptr<Mesh> filled;
    {
        const UnwritableWorkingFolder folders;
        filled = fillHoles(open, {128, 128, 128});
        EXPECT_TRUE(QDir(folders.temp.path()).isEmpty()) << "temporary files are removed";
    }
    ASSERT_TRUE(filled) << "the working folder is not needed";
    EXPECT_TRUE(testing::closedManifold(*filled));

    double highest = -std::numeric_limits<double>::infinity();
    for (const Mesh::Vector& v : filled->vertices())
        highest = std::max(highest, v.z());
    EXPECT_GT(highest, capCut() + 1.0) << "the hole is closed by a cap, not cut off flat";

    ASSERT_EQ(filled->normals().size(), filled->vertices().size());
    EXPECT_EQ(filled->normalIndices(), filled->faces());
    ASSERT_EQ(filled->colors().size(), filled->vertices().size());
    EXPECT_EQ(filled->colorIndices(), filled->faces());
    EXPECT_TRUE(filled->texCoords().empty());

    // Each colour names the old vertex it came from: that vertex must be
    // (one of) the nearest.
    for (std::size_t i = 0; i < filled->vertices().size(); ++i) {
        const Mesh::Vector& v = filled->vertices()[i];
        const Mesh::Vector source = filled->colors()[i] * colourScale;
        ASSERT_NEAR((v - source).norm(), distanceToNearest(v, open.vertices()), 1e-4)
            << "vertex " << i;
    }

    EXPECT_GT(filled->boundingBoxExtent().minCoeff(), 1.5 * sphereRadius);
    EXPECT_EQ(open.vertices(), before.vertices()) << "the old mesh is only read";
    EXPECT_EQ(open.colors(), before.colors());
}

TEST(HoleFilling, LogsTheMillisecondsOfEachStepInOrder)
{
    const Mesh open = openColouredSphere();
    LogCapture log;
    ASSERT_TRUE(fillHoles(open, {128, 128, 128}));

    const std::vector<std::string> steps = {"Fill holes: ", "Normals: ", "FLANN indexing: ",
                                            "FLANN search: ", "Color transfer: "};
    std::vector<std::string> timed;
    const std::regex timing("INFO (.+: )[0-9.e+-]+ ms");
    for (const std::string& line : log.lines()) {
        std::smatch match;
        if (std::regex_match(line, match, timing))
            timed.push_back(match[1]);
    }
    EXPECT_EQ(timed, steps);
}

TEST(HoleFilling, AFailedReconstructionGivesNoMesh)
{
    Mesh open = openColouredSphere();
    for (Mesh::Vector& n : open.normals())
        n.setZero();
    EXPECT_EQ(fillHoles(open, {256, 256, 256}), nullptr);
}

TEST(HoleFilling, OctreeDepthFollowsTheVolumeResolution)
{
    const struct {
        std::array<int, 3> resolution;
        int depth;
    } cases[] = {
        {{128, 128, 128}, 7}, {{64, 32, 128}, 7}, {{256, 256, 256}, 8}, {{128, 128, 129}, 8},
        {{192, 256, 511}, 8}, {{512, 512, 512}, 9}, {{128, 128, 512}, 9}, {{90, 256, 90}, 8},
    };
    for (const auto& c : cases) {
        const PoissonReconstruction::Parameters p = holeFillingParameters(c.resolution);
        const std::string at = ::testing::PrintToString(c.resolution);
        EXPECT_EQ(p.depth, c.depth) << at;
        EXPECT_EQ(p.solverDivide, c.depth) << at;
        EXPECT_EQ(p.isoDivide, c.depth) << at;
        EXPECT_EQ(p.boundary, -1) << at;
        EXPECT_EQ(p.samplesPerNode, PoissonReconstruction::Parameters().samplesPerNode) << at;
    }
}

/// Four old vertices with their colours, and new vertices placed on or near
/// them.
struct ColourTransferCase {
    const char* name;
    std::vector<Mesh::Vector> oldColours;  ///< empty: the old mesh has none
    std::vector<Mesh::Vector> newVertices;
    std::vector<Mesh::Vector> expected;  ///< empty: the new mesh gets none
};

TEST(ColourTransfer, EachNewVertexTakesTheColourOfTheNearestOldVertex)
{
    const std::vector<Mesh::Vector> oldVertices = {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {0, 0, 10}};
    const Mesh::Vector red(1, 0, 0), green(0, 1, 0), blue(0, 0, 1), grey(0.5, 0.5, 0.5);
    const Mesh::Vector black(0, 0, 0);
    const std::vector<Mesh::Vector> placed = {{10, 0, 0}, {0.4, -0.2, 0.1}, {0, 4.9, 5.2}, {0, 6, 0}};
    const ColourTransferCase cases[] = {
        {"on and near old vertices", {red, green, blue, grey}, placed, {green, red, grey, blue}},
        {"all black stays black", {black, black, black, black}, placed, {black, black, black, black}},
        {"an old mesh without colours", {}, placed, {}},
        {"fewer colours than vertices", {red, green}, placed, {}},
    };
    for (const ColourTransferCase& c : cases) {
        Mesh source;
        source.vertices() = oldVertices;
        source.colors() = c.oldColours;
        Mesh target;
        target.vertices() = c.newVertices;
        target.faces() = {{0, 1, 2}, {0, 2, 3}};
        target.colors() = {grey};  // anything earlier goes
        target.colorIndices() = {{0, 0, 0}};

        EXPECT_TRUE(transferColors(source, target)) << c.name;
        EXPECT_EQ(target.colors(), c.expected) << c.name;
        if (c.expected.empty())
            EXPECT_TRUE(target.colorIndices().empty()) << c.name;
        else
            EXPECT_EQ(target.colorIndices(), target.faces()) << c.name;
    }
}

}  // namespace
}  // namespace Veltrane
