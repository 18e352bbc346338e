#pragma once

#include "app/MainWindow.h"

namespace Veltrane {

/// Reaches the main window's state for tests.
class MainWindowProbe {
public:
    static int& uiMode(MainWindow& window) { return window.uiMode; }
    static RGBDSensor*& sensor(MainWindow& window) { return window.sensor; }
    static Playback*& playback(MainWindow& window) { return window.playback; }
    static Mesh*& mesh(MainWindow& window) { return window.mesh; }
    static bool& meshSaved(MainWindow& window) { return window.meshSaved; }
    static SurfaceReconstruction* reconstruction(MainWindow& window) { return window.reconstruction; }
    static ReconstructionParameters* parameters(MainWindow& window) { return window.parameters; }
    static bool cpuReconstruction(MainWindow& window) { return window.cpuReconstruction; }
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

    /// The camera was started (or found missing) and the back-end built.
    static bool captureStarted(MainWindow& window)
    {
        return window.uiMode == 1 && window.reconstruction;
    }
    /// Hands `generated` (owned by the window from now on) over as a scan's
    /// new mesh and enters the mesh mode.
    static void enterMeshMode(MainWindow& window, Mesh* generated)
    {
        generated->computeBoundingBox();
        window.mesh = generated;
        window.meshSaved = false;
        window.showMesh(generated);
        window.uiMode = 3;
        window.updateUiMode();
    }
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
};

}  // namespace Veltrane
