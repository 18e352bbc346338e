#include "AppTestSupport.h"
#include "MainWindowProbe.h"

#include "app/PlaybackWidget.h"
#include "capture/Playback.h"
#include "core/Mesh.h"
#include "reconstruction/ReconstructionParameters.h"
#include "render/GlBoundingBox.h"
#include "render/GlMeshView.h"
#include "testsupport/LeakCheck.h"
#include "testsupport/PlyFile.h"
#include "testsupport/SequenceRecording.h"
#include "testsupport/Trajectory.h"

#include <Eigen/Geometry>
#include <Eigen/LU>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <deque>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Veltrane {
namespace {

using namespace TestSupport;

/// The frames of the scans: 320 x 240 suits the device back-end too.
const PinholeCamera camera = PinholeCamera().scaledDown(2);
constexpr int sequenceFrames = 10;

const SyntheticScene& scene()
{
    static const SyntheticScene table = SyntheticScene::tabletop();
    return table;
}

const Orbit& orbit()
{
    static const Orbit around = tabletopOrbit(sequenceFrames);
    return around;
}

/// How far the vertices of a scan's mesh lie from the scene's surface (mm),
/// sorted. The mesh is in the volume's voxel coordinates; the volume was
/// placed by `volumePose` in the camera of the scan's first frame.
std::vector<double> distancesFromTheScene(const Mesh& mesh, const ReconstructionParameters& parameters,
                                          int firstFrame)
{
    Eigen::Vector3d voxel, corner;
    for (int i = 0; i < 3; ++i) {
        const int count = parameters.volumeResolution[i];
        voxel[i] = parameters.volumeSize[i] / count;
        corner[i] = (count / 2.0 - 0.5) * voxel[i];
    }
    const Eigen::Matrix4d volumeToScene =
        orbit().poses().at(firstFrame).inverse()
        * Eigen::Map<const Eigen::Matrix4d>(parameters.volumePose().data());
    std::vector<double> distances;
    for (const Mesh::Vector& vertex : mesh.vertices()) {
        const Eigen::Vector3d inScene = (volumeToScene * (vertex - corner).homogeneous()).head<3>();
        distances.push_back(std::abs(scene().signedDistance(inScene)));
    }
    std::sort(distances.begin(), distances.end());
    return distances;
}

/// A window in capture mode with a recorded sequence of the table scene
/// loaded in place of the camera, and the volume placed around the table:
/// 128 voxels a side, its centre 80 cm in front of the camera.
class ScanEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        skipLeakCheck();
        ASSERT_TRUE(folder.isValid());
        const QString path = folder.filePath("table.kvs");
        const SyntheticCamera renderer(scene(), camera);
        ASSERT_TRUE(recordSequence(path.toStdString(), renderer.renderAll(orbit().poses()), camera));

        window = std::make_unique<MainWindow>();
        window->show();
        ASSERT_TRUE(waitUntil([&] { return MainWindowProbe::captureStarted(*window); }, 60000));
        {
            FileDialogAnswers answers({{path, QString()}});
            button("pushButtonLoadSequence")->click();
        }
        ASSERT_NE(MainWindowProbe::playback(*window), nullptr);
        button("pushButtonVolResLow")->click();
        child<QSpinBox>("spinBoxVolPosZ")->setValue(80);
        ASSERT_EQ(MainWindowProbe::parameters(*window)->volumePose()[14], 800.0);
        ASSERT_TRUE(button("pushButtonStartReconstruction")->isEnabled());
    }

    template <typename T>
    T* child(const char* name)
    {
        return window->findChild<T*>(name);
    }
    QPushButton* button(const char* name) { return child<QPushButton>(name); }
    int mode() { return MainWindowProbe::uiMode(*window); }
    Playback* player() { return MainWindowProbe::playback(*window); }

    /// The scan's mesh lies on the table scene: nine in ten vertices within
    /// a third of a voxel (2.6 mm) of its surface, and all within a voxel.
    /// The scan started with the sequence's first frame, or with the one of
    /// `firstFrames` that places the mesh best.
    void expectMeshOnTheScene(std::initializer_list<int> firstFrames = {0})
    {
        ASSERT_EQ(mode(), 3);
        const Mesh* mesh = MainWindowProbe::mesh(*window);
        ASSERT_NE(mesh, nullptr);
        ASSERT_GT(mesh->vertices().size(), 1000u);
        std::vector<double> distances;
        for (const int first : firstFrames) {
            std::vector<double> fromThere =
                distancesFromTheScene(*mesh, *MainWindowProbe::parameters(*window), first);
            if (distances.empty() || fromThere[fromThere.size() * 9 / 10] < distances[distances.size() * 9 / 10])
                distances.swap(fromThere);
        }
        const double voxel = 1000.0 / 128;
        EXPECT_LT(distances[distances.size() * 9 / 10], voxel / 3);
        EXPECT_LT(distances.back(), voxel);
        EXPECT_EQ(player(), nullptr) << "the sequence was closed";
    }

    QTemporaryDir folder;
    MessageBoxLog boxes{QString(), QMessageBox::No};
    std::unique_ptr<MainWindow> window;
};

TEST_F(ScanEndToEnd, EndOfTheSequenceEndsTheScanWithItsMesh)
{
    button("pushButtonStartReconstruction")->click();
    EXPECT_EQ(mode(), 2);
    ASSERT_TRUE(waitUntil([&] { return mode() == 3; }, 60000));
    expectMeshOnTheScene();
}

TEST_F(ScanEndToEnd, UserEndsTheScan)
{
    button("pushButtonStartReconstruction")->click();
    ASSERT_TRUE(waitUntil([&] { return player()->position() >= sequenceFrames / 2; }, 60000));
    button("pushButtonFinishReconstruction")->click();
    expectMeshOnTheScene();
}

TEST_F(ScanEndToEnd, SceneViewShowsTheFusedSurfaceWhileTheScanRuns)
{
    child<QCheckBox>("checkBoxLoop")->setChecked(true);
    button("pushButtonStartReconstruction")->click();
    ASSERT_TRUE(waitUntil([&] { return MainWindowProbe::sceneShowsTheVolume(*window); }, 30000));
    handleEventsFor(300);
    EXPECT_TRUE(saveWindowScreenshot(*window, "MainWindowReconstruction"));
    button("pushButtonFinishReconstruction")->click();
    expectMeshOnTheScene();
}

TEST_F(ScanEndToEnd, TimerEndsTheScanOfALoopingSequence)
{
    child<QCheckBox>("checkBoxLoop")->setChecked(true);
    child<QCheckBox>("checkBoxDuration")->setChecked(true);
    child<QSpinBox>("spinBoxDuration")->setValue(2);
    button("pushButtonStartReconstruction")->click();
    ASSERT_TRUE(waitUntil([&] { return mode() == 3; }, 10000));
    expectMeshOnTheScene();
}

TEST_F(ScanEndToEnd, PlayingSequenceWaitsDuringTheCountDownAndRunsWithTheScan)
{
    // Looping: a short sequence played once could end before it is looked at.
    child<QCheckBox>("checkBoxLoop")->setChecked(true);
    PlaybackWidget* bar = child<PlaybackWidget>("playbackWidget");
    bar->start();
    ASSERT_EQ(player()->state(), PlaybackState::Playing);
    child<QSpinBox>("spinBoxStartDelay")->setValue(1);
    button("pushButtonStartReconstruction")->click();
    EXPECT_EQ(player()->state(), PlaybackState::Paused) << "during the count-down";
    EXPECT_FALSE(bar->isPlaying());
    // The scan starts with the frame played last, if it is still waiting to
    // be taken, or else with the next one; a looping sequence may be on its
    // way back.
    const int next = player()->position();
    ASSERT_TRUE(waitUntil([&] { return mode() == 2; }, 3000));
    EXPECT_EQ(player()->state(), PlaybackState::Playing);
    EXPECT_TRUE(bar->reconstructionMode);
    ASSERT_TRUE(waitUntil([&] { return MainWindowProbe::sceneShowsTheVolume(*window); }, 30000));
    button("pushButtonFinishReconstruction")->click();
    expectMeshOnTheScene({std::max(next - 1, 0), next, std::min(next + 1, sequenceFrames - 1)});
}

TEST_F(ScanEndToEnd, ScannedMeshIsSmoothedCroppedUndoneAndSavedAsPly)
{
    button("pushButtonStartReconstruction")->click();
    ASSERT_TRUE(waitUntil([&] { return mode() == 3; }, 60000));
    const std::deque<Mesh*>& undo = MainWindowProbe::undoStack(*window);
    const Mesh* scanned = MainWindowProbe::mesh(*window);
    ASSERT_NE(scanned, nullptr);
    handleEventsFor(200);
    EXPECT_TRUE(saveWindowScreenshot(*window, "MainWindowScannedMesh"));

    child<QSpinBox>("spinBoxIterations")->setValue(2);
    button("pushButtonSmooth")->click();
    ASSERT_TRUE(waitUntil([&] { return undo.size() == 1; }, 30000));
    const Mesh* smoothed = MainWindowProbe::mesh(*window);
    ASSERT_EQ(smoothed->vertices().size(), scanned->vertices().size());
    EXPECT_NE(smoothed->vertices(), scanned->vertices());

    // The crop box starts around the whole mesh; halved along x it keeps
    // about half of the faces.
    child<QAbstractButton>("toolButtonMeshCrop")->click();
    GlMeshView* view = MainWindowProbe::meshGlView(*window);
    GlMatrix halfWidth = view->cropBox->matrix();
    halfWidth[0] = 0.5;
    view->cropBox->setMatrix(halfWidth);
    button("pushButtonCrop")->click();
    ASSERT_TRUE(waitUntil([&] { return undo.size() == 2; }, 30000));
    const std::size_t croppedFaces = MainWindowProbe::mesh(*window)->faces().size();
    EXPECT_LT(croppedFaces, smoothed->faces().size() * 3 / 4);
    EXPECT_GT(croppedFaces, smoothed->faces().size() / 4);

    button("pushButtonMeshUndo")->click();
    ASSERT_EQ(MainWindowProbe::mesh(*window), smoothed);

    // Saved as PLY, the smoothed mesh reads back with y and z turned to
    // the file's frame and a colour for every vertex.
    const QString path = folder.filePath("scan.ply");
    {
        FileDialogAnswers files({{path, "Stanford polygon file format (*.ply)"}});
        button("pushButtonSaveMesh")->click();
        EXPECT_EQ(files.pending(), 0u) << "the file dialog was not opened";
    }
    ASSERT_TRUE(MainWindowProbe::meshSaved(*window));
    const PlyContents ply = readPly(readFileBytes(path));
    ASSERT_EQ(ply.vertices.size(), smoothed->vertices().size());
    ASSERT_EQ(ply.faces.size(), smoothed->faces().size());
    for (std::size_t i = 0; i < ply.vertices.size(); ++i) {
        const Mesh::Vector& v = smoothed->vertices()[i];
        const std::map<std::string, double>& record = ply.vertices[i];
        ASSERT_NEAR(record.at("x"), v.x(), 1e-3) << i;
        ASSERT_NEAR(record.at("y"), -v.y(), 1e-3) << i;
        ASSERT_NEAR(record.at("z"), -v.z(), 1e-3) << i;
        ASSERT_EQ(record.count("red"), 1u) << i;
    }
    for (std::size_t f = 0; f < ply.faces.size(); ++f) {
        const Mesh::Triple& face = smoothed->faces()[f];
        ASSERT_EQ(ply.faces[f], (std::vector<long>{face[0], face[1], face[2]})) << f;
    }
}

/// The same road with the OpenCL CPU device standing in for a GPU: the
/// device back-end and the device marching cubes.
class DeviceScanEndToEnd : public ScanEndToEnd {
protected:
    EnvironmentSetting cpuAsGpu{MainWindow::cpuAsGpuVariable, "1"};
};

TEST_F(DeviceScanEndToEnd, EndOfTheSequenceEndsTheScanWithItsMesh)
{
    ASSERT_FALSE(MainWindowProbe::cpuReconstruction(*window));
    button("pushButtonStartReconstruction")->click();
    ASSERT_TRUE(waitUntil([&] { return mode() == 3; }, 60000));
    expectMeshOnTheScene();
}

}  // namespace
}  // namespace Veltrane
