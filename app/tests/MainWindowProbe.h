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
    static bool startSensor(MainWindow& window) { return window.startSensor(); }
    static bool recording(MainWindow& window) { return window.recording; }
    static int frameWidth(MainWindow& window) { return window.frameWidth; }
};

}  // namespace Veltrane
