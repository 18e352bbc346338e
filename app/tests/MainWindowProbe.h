#pragma once

#include "app/MainWindow.h"

#include "core/MemImage.h"
#include "core/Mesh.h"
#include "core/SharedImage.h"
#include "render/Interaction3D.h"

#include <QMutexLocker>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Veltrane {

/// Reaches the main window's state for tests.
class MainWindowProbe {
public:
    static int& uiMode(MainWindow& window) { return window.uiMode; }
    static RGBDSensor*& sensor(MainWindow& window) { return window.sensor; }
    static Playback*& playback(MainWindow& window) { return window.playback; }
    static Mesh*& mesh(MainWindow& window) { return window.mesh; }
    static bool& meshSaved(MainWindow& window) { return window.meshSaved; }
    static SurfaceReconstruction*& reconstruction(MainWindow& window) { return window.reconstruction; }
    static ReconstructionParameters* parameters(MainWindow& window) { return window.parameters; }
    static bool cpuReconstruction(MainWindow& window) { return window.cpuReconstruction; }
    static bool& cpuMarchingCubes(MainWindow& window) { return window.cpuMarchingCubes; }
    static ClEnvironment*& clEnvironment(MainWindow& window) { return window.clEnvironment; }
    static bool workerExists(MainWindow& window) { return window.workerThread != nullptr; }
    static SharedImage* colorImage(MainWindow& window) { return window.colorImage; }
    static SharedImage* emptySceneImage(MainWindow& window) { return window.emptySceneImage; }
    static SharedImage* incomingDepthImage(MainWindow& window) { return window.incomingDepthImage; }
    static bool newFrame(MainWindow& window) { return window.newFrame; }
    static void allocateFrameImages(MainWindow& window, int width, int height)
    {
        window.allocateFrameImages(width, height);
    }
    static void updateUiMode(MainWindow& window) { window.updateUiMode(); }
    /// Frames fused per second, as the window last showed it; read it once
    /// the scan has ended.
    static double reconstructionRate(MainWindow& window) { return window.reconstructionRate.rate(); }
    /// The scene view's image holds something other than the empty scene:
    /// the surface predicted from the volume was drawn into it.
    static bool sceneShowsTheVolume(MainWindow& window)
    {
        const QMutexLocker lock(window.frameMutex);
        const MemImage* scene = window.sceneImage->mem();
        const MemImage* empty = window.emptySceneImage->mem();
        return scene->byteSize() == empty->byteSize()
               && std::memcmp(scene->data(), empty->data(), scene->byteSize()) != 0;
    }

    /// The camera was started (or found missing) and the back-end built.
    static bool captureStarted(MainWindow& window)
    {
        return window.uiMode == 1 && window.reconstruction;
    }
    /// Hands `generated` (owned by the window from now on) over as a scan's
    /// new mesh, points the mesh view's camera at it as the mesh generation
    /// does (its centre straight ahead, far enough back to see it whole) and
    /// enters the mesh mode.
    static void enterMeshMode(MainWindow& window, Mesh* generated)
    {
        generated->computeBoundingBox();
        window.mesh = generated;
        window.meshSaved = false;
        window.showMesh(generated);
        const Eigen::Vector3d c = generated->boundingBoxCenter();
        const Eigen::Vector3d e = generated->boundingBoxExtent();
        const double distance = std::max(0.4 * e.x(), 0.4 * e.y()) / std::tan(M_PI / 6) + 0.75 * e.z();
        window.meshCamera->reset();
        window.meshCamera->setRotationCenter({c.x(), -c.y(), -c.z()});
        window.meshCamera->setTranslation(-c.x(), c.y(), c.z() - distance);
        window.uiMode = 3;
        window.updateUiMode();
    }

    /// The five views, as the display widget lists them.
    struct Views {
        ImageView2D* color;
        ImageView2D* depth;
        InteractiveView* pointCloud;
        ImageView2D* scene;
        InteractiveView* mesh;
    };
    static Views views(MainWindow& window)
    {
        return {window.colorView, window.depthView, window.pointCloudView, window.sceneView,
                window.meshView};
    }
    static GlPointCloudView* pointCloudGlView(MainWindow& window) { return window.pointCloudGlView; }
    static Interaction3D* pointCloudCamera(MainWindow& window) { return window.pointCloudCamera; }
    static FancyMeshManipulator* volumeManipulator(MainWindow& window) { return window.volumeManipulator; }
    static FancyMeshManipulator* alignManipulator(MainWindow& window) { return window.alignManipulator; }
    static FancyMeshManipulator* cropManipulator(MainWindow& window) { return window.cropManipulator; }
    static SharedImage* depthImage(MainWindow& window) { return window.depthImage; }
    static SharedImage* displayColorImage(MainWindow& window) { return window.displayColorImage; }
    static SharedImage* sceneImage(MainWindow& window) { return window.sceneImage; }
    static GlMeshView* meshGlView(MainWindow& window) { return window.meshGlView; }
    static std::deque<Mesh*>& undoStack(MainWindow& window) { return window.undoStack; }
    static std::deque<Mesh*>& redoStack(MainWindow& window) { return window.redoStack; }
    static const std::vector<float>& componentAreas(MainWindow& window) { return window.componentAreas; }
    static Mesh* cleanPreviewMesh(MainWindow& window) { return window.cleanPreviewMesh; }
    static Mesh* runOnWorker(MainWindow& window, const QString& label,
                             const std::function<Mesh*()>& operation)
    {
        return window.runOnWorker(label, operation);
    }
    static bool replaceMesh(MainWindow& window, Mesh* result) { return window.replaceMesh(result); }
    static bool startSensor(MainWindow& window) { return window.startSensor(); }
    static bool recording(MainWindow& window) { return window.recording; }
    static int frameWidth(MainWindow& window) { return window.frameWidth; }
    /// Frames of `width` x `height` from now on, as a camera of that size
    /// would bring.
    static void setFrameSize(MainWindow& window, int width, int height)
    {
        window.frameWidth = width;
        window.frameHeight = height;
        window.allocateFrameImages(width, height);
    }
    static bool reconstructing(MainWindow& window) { return window.reconstructing; }
    static void stopWorkerThread(MainWindow& window) { window.stopWorkerThread(); }
};

}  // namespace Veltrane
