#include "meshproc/poisson/PoissonReconstruction.h"

#include "core/Logging.h"
#include "testsupport/LogCapture.h"

#include <Eigen/Geometry>
#include <gtest/gtest.h>
#include <log4cxx/appenderskeleton.h>
#include <log4cxx/spi/loggingevent.h>

#include <cmath>
#include <functional>
#include <map>

using namespace Veltrane;
using namespace Veltrane::PoissonReconstruction;

namespace {

const Eigen::Vector3d centre(10, -20, 30);
constexpr double radius = 50;

struct OrientedPoints {
    std::vector<Mesh::Vector> positions;
    std::vector<Mesh::Vector> normals;
};

/// Evenly spread points on the sphere (a Fibonacci spiral) with outward
/// normals, leaving out the cap within `capDegrees` of the +z pole.
OrientedPoints spherePoints(int count, double capDegrees = 0)
{
    OrientedPoints points;
    const double golden = M_PI * (3 - std::sqrt(5.0));
    const double capCos = std::cos(capDegrees * M_PI / 180);
    for (int i = 0; i < count; ++i) {
        const double z = 1 - 2 * (i + 0.5) / count;
        if (capDegrees > 0 && z > capCos)
            continue;
        const double r = std::sqrt(1 - z * z);
        const Mesh::Vector n(r * std::cos(golden * i), r * std::sin(golden * i), z);
        points.normals.push_back(n);
        points.positions.push_back(centre + radius * n);
    }
    return points;
}

class WarningCounter : public log4cxx::AppenderSkeleton {
public:
    int warnings = 0;
    void close() override {}
    bool requiresLayout() const override { return false; }

protected:
    void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override
    {
        if (event->getLevel()->isGreaterOrEqual(log4cxx::Level::getWarn()))
            ++warnings;
    }
};

struct SurfaceReport {
    int badEdges = 0;
    int euler = 0;
    int unreferenced = 0;
    double maxRadiusError = 0;
    double meanRadiusError = 0;
    double volume = 0;
};

SurfaceReport inspect(const Mesh& mesh)
{
    SurfaceReport report;
    std::map<std::pair<int, int>, int> directed;
    std::vector<bool> used(mesh.vertices().size(), false);
    for (const auto& f : mesh.faces())
        for (int k = 0; k < 3; ++k) {
            ++directed[{f[k], f[(k + 1) % 3]}];
            used[size_t(f[k])] = true;
        }
    for (const auto& e : directed) {
        const auto reverse = directed.find({e.first.second, e.first.first});
        if (e.second != 1 || reverse == directed.end() || reverse->second != 1)
            ++report.badEdges;
    }
    report.euler = int(mesh.vertices().size()) - int(directed.size()) / 2 + int(mesh.faces().size());
    for (bool u : used)
        report.unreferenced += u ? 0 : 1;
    for (const auto& v : mesh.vertices()) {
        const double error = std::abs((v - centre).norm() - radius) / radius;
        report.maxRadiusError = std::max(report.maxRadiusError, error);
        report.meanRadiusError += error / double(mesh.vertices().size());
    }
    for (const auto& f : mesh.faces())
        report.volume += (mesh.vertices()[size_t(f[0])] - centre)
                             .dot((mesh.vertices()[size_t(f[1])] - centre).cross(mesh.vertices()[size_t(f[2])] - centre)) /
                         6.0;
    return report;
}

Parameters holeFillingParameters(int depth)
{
    Parameters parameters;
    parameters.depth = depth;
    parameters.boundary = -1;
    parameters.threads = 2;
    return parameters;
}

}  // namespace

TEST(PoissonEndToEnd, SphereGivesClosedAccurateSurface)
{
    const OrientedPoints points = spherePoints(20000);
    const double sphereVolume = 4.0 / 3.0 * M_PI * radius * radius * radius;
    for (int depth : {7, 8}) {
        SCOPED_TRACE(depth);
        auto counter = std::make_shared<WarningCounter>();
        appLogger()->addAppender(counter);
        const std::unique_ptr<Mesh> mesh = reconstruct(points.positions, points.normals, holeFillingParameters(depth));
        appLogger()->removeAppender(counter);
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(counter->warnings, 0);
        const SurfaceReport report = inspect(*mesh);
        EXPECT_EQ(report.badEdges, 0);
        EXPECT_EQ(report.euler, 2);
        EXPECT_EQ(report.unreferenced, 0);
        EXPECT_LT(report.maxRadiusError, 0.02);
        EXPECT_LT(report.meanRadiusError, 0.005);
        EXPECT_GT(report.volume, 0);
        EXPECT_NEAR(report.volume / sphereVolume, 1.0, 0.03);
        EXPECT_TRUE(mesh->normals().empty());
        EXPECT_TRUE(mesh->colors().empty());
    }
}

TEST(PoissonEndToEnd, SphereWithoutCapIsClosedAndRunsRepeat)
{
    const OrientedPoints points = spherePoints(20000, 30);
    const Parameters parameters = holeFillingParameters(7);
    const std::unique_ptr<Mesh> first = reconstruct(points.positions, points.normals, parameters);
    ASSERT_NE(first, nullptr);
    const SurfaceReport report = inspect(*first);
    EXPECT_EQ(report.badEdges, 0);
    EXPECT_EQ(report.euler, 2);
    // The cap is closed by a smooth patch; the volume stays close to the
    // sphere's.
    EXPECT_GT(report.volume, 0);
    EXPECT_NEAR(report.volume / (4.0 / 3.0 * M_PI * radius * radius * radius), 1.0, 0.05);

    const std::unique_ptr<Mesh> second = reconstruct(points.positions, points.normals, parameters);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->vertices(), first->vertices());
    EXPECT_EQ(second->faces(), first->faces());
}

namespace {

std::vector<Mesh::Vector> twice(const std::vector<Mesh::Vector>& values)
{
    std::vector<Mesh::Vector> result = values;
    result.insert(result.end(), values.begin(), values.end());
    return result;
}

/// `normals`, then each of them turned round.
std::vector<Mesh::Vector> cancelling(const std::vector<Mesh::Vector>& normals)
{
    std::vector<Mesh::Vector> result = normals;
    for (const Mesh::Vector& n : normals)
        result.push_back(-n);
    return result;
}

}  // namespace

TEST(PoissonEndToEnd, UnusableInputGivesNoMeshAndSaysWhy)
{
    const OrientedPoints points = spherePoints(2000);
    struct Case {
        const char* name;
        std::vector<Mesh::Vector> positions;
        std::vector<Mesh::Vector> normals;
        std::function<void(Parameters&)> change;
        const char* error;
    };
    const std::vector<Mesh::Vector> zeroNormals(points.positions.size(), Mesh::Vector::Zero());
    const auto unchanged = [](Parameters&) {};
    const Case cases[] = {
        {"zero normals", points.positions, zeroNormals, unchanged,
         "ERROR Poisson reconstruction needs points with non-zero normals"},
        {"no normals", points.positions, {}, unchanged,
         "ERROR Poisson reconstruction needs points with normals; there are none"},
        {"no points", {}, {}, unchanged, "ERROR Poisson reconstruction needs points with normals; there are none"},
        {"cube around none of the points", points.positions, points.normals,
         [](Parameters& p) { p.scale = 0.01f; },
         "ERROR Poisson reconstruction found no point with a normal inside the reconstruction cube"},
        {"normals that cancel", twice(points.positions), cancelling(points.normals), unchanged,
         "ERROR Poisson reconstruction found no surface"},
        {"kernel deeper than depth", points.positions, points.normals, [](Parameters& p) { p.kernelDepth = 6; },
         "ERROR kernelDepth can't be greater than depth"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Parameters parameters = holeFillingParameters(5);
        c.change(parameters);
        LogCapture log;
        EXPECT_EQ(reconstruct(c.positions, c.normals, parameters), nullptr);
        EXPECT_TRUE(log.contains(c.error)) << ::testing::PrintToString(log.lines());
    }
}
