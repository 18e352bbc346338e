#pragma once

#include "app/FrameRateMeter.h"
#include "capture/RGBDListener.h"

#include <QFuture>
#include <QMainWindow>

#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class QMutex;
class QProgressDialog;
class QTimer;
class Ui_MainWindow;

namespace boost {
class thread;
}

namespace Veltrane {

class ClDevice;
class ClEnvironment;
class ClImage;
class ClPlatform;
class CountDownDialog;
class FancyMeshManipulator;
class Gl3DObject;
class GlBoundingBox;
class GlMeshView;
class GlObject;
class GlPointCloudView;
class GlProgram;
class GlSliceView;
class GlVolumeBoundingBox;
class ImageRecorder;
class ImageView2D;
class Interaction3D;
class InteractionDepthMap;
class InteractionFilter;
class InteractiveView;
class Mesh;
class Playback;
class RGBDSensor;
class ReconstructionParameters;
class SharedImage;
class SurfaceReconstruction;

/// The application's one window, and the owner of a whole scan: the camera,
/// the fusion back-end and the thread that feeds it, the reconstruction
/// parameters, the images that carry frames from the camera thread to the
/// worker and to the views, the current mesh with its undo and redo history,
/// and the sequence recorder and player.
///
/// The window moves between user-interface modes: 0 before the first capture
/// start, 1 capture, 2 reconstruction, 3 mesh (`uiMode`). Whoever changes the
/// mode calls `updateUiMode`, which shows the mode's settings page, views and
/// controls.
///
/// Threads: everything here runs on the GUI thread except `onNewFrame` (the
/// camera's or the sequence player's thread) and `reconstructionThread` (the
/// worker); both reach widgets only through queued invocations.
/// `frameMutex` guards the one-slot frame hand-off, and the frame images
/// that the worker fills and the views show.
///
/// The class is split over several source files by area: life cycle and
/// form (MainWindow.cpp), views and modes (MainWindowViews.cpp), message
/// boxes and settings (MainWindowMessages.cpp), capture
/// (MainWindowCapture.cpp), compute device (MainWindowDevice.cpp), and one
/// file for each group of slots that later work fills in.
class MainWindow : public QMainWindow, public RGBDListener {
    Q_OBJECT

public:
    /// An environment variable: set to 1, OpenCL devices of the CPU type are
    /// offered as GPUs, so that the device back-end and the device marching
    /// cubes can be tested and measured on a machine without a GPU.
    static constexpr const char* cpuAsGpuVariable = "KORVASTEL_OPENCL_CPU_AS_GPU";

    /// Builds the form, restores the window's geometry, sets up the views and
    /// schedules the capture start (20 ms) and the compute-device probe
    /// (40 ms) on the event loop.
    MainWindow();
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    /// Modal message boxes, the only way the window tells the user something.
    /// Each is frameless with a white 2-pixel outline; callers pass texts
    /// already translated. The result is the box's exec() result: for
    /// `askQuestion`, QMessageBox::Yes or QMessageBox::No. An empty Yes or No
    /// text keeps Qt's own caption.
    int showCritical(const QString& title, const QString& text);
    int showWarning(const QString& title, const QString& text);
    int showInformation(const QString& title, const QString& text);
    int askQuestion(const QString& title, const QString& text, const QString& yesText,
                    const QString& noText);

    /// The frame callback of the camera and of the sequence player: copies
    /// the frame into the hand-off (and to the recorder while recording) and
    /// measures the camera's frame rate. Runs on the producer's thread.
    void onNewFrame(const TypedImage<unsigned char>* colour,
                    const TypedImage<unsigned short>* depth, const double* pose) override;

public slots:
    void onStartCapture();
    void onStopCapture();
    void onStartReconstruction();
    void onStopReconstruction();
    void onFinish();
    void onVolumeTypeChanged();
    void onVolumeResolutionChanged();
    void onVolumeSizeChanged();
    void onVolumePositionChanged();
    void onVolumePositionReset();
    void onVolumeRotate();
    void onVolumeTranslate();
    void onShowVolumePositionTab(bool show);
    void onResetReconstruction();
    void onCancelReconstruction();
    void onMeshTextured();
    void onMeshSurface();
    void onMeshSurfaceAndWireframe();
    void onMeshWireframe();
    void onSaveMesh();
    void onExportToSketchFab();
    void onDeviceChanged();
    void onAutoWhiteBalanceToggled(bool value);
    void onAutoExposureToggled(bool value);
    void onShowSceneColor(bool value);
    void onAbout();
    void initCL();
    void onMeshProcessingChange();
    void onCropMeshTransformationChange(int mode);
    void onCleanMeshMinChanged(int minArea);
    void onCleanMeshMaxChanged(int maxArea);
    void smoothMesh();
    void decimateMesh();
    void cleanMesh();
    void alignMesh();
    void cropMesh();
    void fillHolesMesh();
    void onMeshUndo();
    void onMeshRedo();
    void onMeshReset();
    void waitCanceled();
    void startDelayedReconstruction();
    void stopTimedReconstruction();
    void delayedReconstructionCanceled();
    void showSensorWaitDialog();
    void onRecordSequence();
    void onLoadSequence();
    void onFinishedPlayback();
    void onDepthCutoffToggled(bool v);
    void onDepthCutoffChanged(int v);
    void reconstructionThread();
    void updateGUI();

protected:
    /// Stops capture, recording, playback and the worker, stores the window
    /// settings and deletes what the window owns, then quits the
    /// application. Asks first whether to save a mesh that was not saved,
    /// and stays open when that save was wanted but did not happen. A close
    /// requested while a slot is still busy (waiting for a worker or a
    /// camera, writing a file) is carried out as soon as that slot has
    /// finished.
    void closeEvent(QCloseEvent* event) override;
    /// Keeps the side views at their pixel proportions.
    void resizeEvent(QResizeEvent* event) override;
    /// Widens the settings column while its vertical scroll bar is shown,
    /// and keeps the side views at their pixel proportions when the display
    /// widget changes its size alone.
    bool eventFilter(QObject* watched, QEvent* event) override;

    /// Creates the back-end chosen by `cpuReconstruction`; called on a worker
    /// of the thread pool at start and on the GUI thread on a device switch.
    /// Callers make sure that no back-end exists. Virtual so that a slower
    /// construction can be put in its place.
    virtual void createReconstruction();

    /// Marching cubes over the volumes of the GPU back-end on the device of
    /// `clEnvironment`, welded and with vertex normals; called on a worker
    /// of the thread pool. Null when the device cannot do it (its program
    /// does not build there, or the extraction fails) or nothing came out:
    /// the volumes are then extracted on the CPU. Virtual so that a failing
    /// device can be put in its place.
    virtual Mesh* extractMeshOnDevice(ClImage& distance, ClImage* colours);

private:
    friend class MainWindowProbe;

    /// Marks a slot that processes events while it works. A close requested
    /// meanwhile would delete what the slot is still using, so it is put off
    /// until the outermost busy slot has returned.
    class BusyScope {
    public:
        explicit BusyScope(MainWindow& window);
        ~BusyScope();
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;

    private:
        MainWindow& m_window;
    };

    // Views and modes (MainWindowViews.cpp).
    void setupViews();
    /// Creates the views and their scene objects in the display widget.
    void createViews();
    void updateUiMode();
    /// Shows the views of the current mode and lays them out.
    void placeViews();
    /// Fills the live colour images with the views' grey and the depth image
    /// with no depth.
    void clearFrameImages();
    /// Expands the volume type and size sections and collapses the others.
    void showDefaultCaptureSections();
    /// Scrolls the settings column back to its start and hides its vertical
    /// scroll bar.
    void resetSettingsScroll();
    /// Unchecks the mesh tool buttons and hides their panels.
    void closeMeshToolPanels();
    /// Connects the mesh tool panels' signals to the window's tool slots.
    void connectMeshToolPanels();
    /// Places the views for the display widget's current size.
    void placeViewsBySize();
    /// Uploads the frame images that changed, hands the live frame to the
    /// point-cloud view in capture mode and repaints the display widget.
    void refreshViews();
    /// Deletes the display widget with its views, then what the views point
    /// at: their interactions, the volume box and the manipulators.
    void deleteViews();

    // The display widget's context and the mesh view's on-screen handles
    // (MainWindowViews.cpp).
    /// Makes the display widget's OpenGL context current.
    void makeDisplayCurrent();
    /// On-screen handles of `handleSet` (1 translate, 2 rotate, 3 scale) on
    /// `target` in the mesh view: drawn there and registered for the target's
    /// events. Null without a mesh view.
    FancyMeshManipulator* addMeshManipulator(Gl3DObject* target, int handleSet);
    /// Takes `manipulator` off `target` in the mesh view, deletes it and
    /// sets it to null; null does nothing.
    void removeMeshManipulator(FancyMeshManipulator*& manipulator, GlObject* target);
    /// Shows the handles of `handleSet` (0 none) on `manipulator`.
    void setMeshManipulatorHandles(FancyMeshManipulator* manipulator, int handleSet);

    // Settings (MainWindowMessages.cpp).
    void restoreSettings();
    void saveSettings();

    // Capture (MainWindowCapture.cpp).
    bool startSensor();
    void allocateFrameImages(int width, int height);
    /// Starts the reconstruction thread; none may run.
    void startWorkerThread();
    /// Ends the reconstruction thread when it runs: clears its run flag and
    /// joins it.
    void stopWorkerThread();

    // Compute device (MainWindowDevice.cpp).
    /// Lists every OpenCL GPU device in `clDevices`.
    void findGpuDevices();
    /// Without a GPU: says so and offers only the CPU.
    void useCpuOnly();
    /// Logs the GPUs' facts, creates the environment of the first and tries
    /// the GPU marching cubes and back-end on it, falling back to the CPU
    /// for each that cannot be built; fills the device box.
    void probeGpu();
    /// Logs that OpenCL objects could not be made and tells the user.
    void reportOpenClFailure();

    // Mesh tools, history and saving (MainWindowMeshTools.cpp).
    /// Runs `operation` on a worker of the global thread pool while a modal
    /// busy dialog labelled `label` keeps the user's input away, and returns
    /// its result: a new mesh, or null when it made none (or threw). The
    /// operation may read the current mesh, which nothing changes meanwhile.
    Mesh* runOnWorker(const QString& label, const std::function<Mesh*()>& operation);
    /// Makes `result` of a tool the current mesh: the current one goes to the
    /// front of the undo history, the redo history is deleted, the mesh
    /// counts as unsaved and the view shows the result. A null or empty
    /// result is deleted instead and the user told that the mesh was kept;
    /// false then.
    bool replaceMesh(Mesh* result);
    /// Runs `tool` on the current mesh behind the busy dialog and makes what
    /// it returns the current mesh (`replaceMesh`); false when there is no
    /// mesh or the result was refused.
    bool applyMeshTool(const std::function<Mesh*(const Mesh& current)>& tool);
    /// Opens the tool whose button is `opened` (null: none) and closes every
    /// other tool, taking its preview or handles off the mesh view.
    void switchMeshTool(const QObject* opened);
    void closeMeshTools() { switchMeshTool(nullptr); }
    /// Builds the clean preview of the current mesh: the distinct piece
    /// areas, the preview mesh coloured by them, and the sliders' range.
    void computeComponentAreas();
    /// computeComponentAreas(), then both bounds at the ends of the range.
    void refreshCleanPreview();
    /// Shows componentAreas[`index`] as the lower (upper) bound of the clean
    /// preview; an index outside the list does nothing.
    void showCleanBound(int index, bool upper);
    /// The crop tool is open: the crop box and its handles are in the mesh
    /// view.
    bool cropToolOpen() const;
    /// Decimate range 1 ... `faces`, target `faces` (100 %).
    void setDecimateRange(int faces);
    void setRenderMode(int mode);
    /// Gives `shown` (null: none) to the mesh view to draw.
    void showMesh(const Mesh* shown);
    void repaintMeshView();
    /// Undo and Reset on when there is something to undo, Redo when there is
    /// something to redo.
    void updateHistoryButtons();
    /// Moves the front of `from` in as the current mesh, the current one to
    /// the front of `to` (undo and redo).
    void stepHistory(std::deque<Mesh*>& from, std::deque<Mesh*>& to);
    /// Deletes the undo and redo histories.
    void deleteMeshHistory();
    /// Before an unsaved mesh is left: asks whether to save it, and saves it
    /// on Yes. False when the user wanted it saved and it was not (the save
    /// was cancelled or failed): the mesh must then be kept, which the user
    /// is told.
    bool offerToSaveMesh();
    /// Writes the current mesh to `fileName` with the writer of the save
    /// dialog's filter entry `filter`; false when it was not written.
    bool writeMesh(const QString& fileName, const QString& filter);
    /// The OBJ writer behind a progress dialog that processes events now and
    /// then; the mesh controls are disabled and a close waits meanwhile.
    bool writeObjWithProgress(const std::string& path);

    // Sequences (MainWindowSequence.cpp).
    /// Records every live frame from now on into a new sequence file at
    /// `path` (UTF-8). False, after telling the user, when the file cannot be
    /// created: nothing is recorded then.
    bool startRecording(const std::string& path);
    /// Ends a recording: writes the frames still queued (behind a busy
    /// dialog when that takes a while), completes and closes the file, and
    /// logs how many frames were written and dropped.
    void stopRecording();
    /// Closes a loaded sequence: its player is stopped and deleted and the
    /// playback bar hidden. Does not restart the camera.
    void closeSequence();
    /// The file dialog of the sequence buttons, starting in the folder
    /// remembered under `key` (the documents folder at first); remembers the
    /// chosen file's folder. Empty when cancelled.
    QString askForSequenceFile(const QString& key, const QString& caption, bool save);
    /// Runs `change` of the frame images while the reconstruction thread is
    /// held, dropping a frame still waiting in the hand-off.
    void withWorkerHeld(const std::function<void()>& change);

    // The scan (MainWindowScan.cpp).
    /// Brings the volume controls, the volume box, the point-cloud view and
    /// the depth map in line with the parameters.
    void updateVolumeVisualization();
    /// Switches the volume box's handles off and unchecks their buttons.
    void endVolumeManipulation();
    /// Creates the count-down dialog of a delayed start.
    void createCountDownDialog();
    /// Initialises the back-end with the parameters, which stay locked until
    /// it is released, and sets `reconstructing`. False, after telling the
    /// user, when there is no back-end yet or it cannot be initialised.
    bool initReconstruction();
    /// The frame the worker works on, its own copy of the hand-off.
    struct WorkerFrame;
    /// Copies the frame waiting in the hand-off into the worker's `frame`;
    /// false when none waits.
    bool takeFrame(WorkerFrame& frame);
    /// Fuses `frame` when a reconstruction runs. The result of the back-end
    /// (0 when none runs), and the pose it left in `pose`.
    int fuseFrame(WorkerFrame& frame, std::array<float, 16>& pose);
    /// Hands the worker's `frame` to the views: live depth and colour, and,
    /// when `tracked`, the colour shown under a lost tracking and, during a
    /// reconstruction, the predicted scene and `pose`.
    void publishFrame(const WorkerFrame& frame, bool tracked, const std::array<float, 16>& pose);
    /// The tracking light and the colour overlay: green and none when
    /// `tracked`, red and the last tracked colour frame otherwise.
    void showTrackingState(bool tracked);
    /// Ends what feeds a scan, whether it is finished or cancelled: no more
    /// frames are fused, the timed stop is off, the sequence is closed and
    /// the capture stopped.
    void endScanInput();
    /// Releases the back-end (its parameters are unlocked) and deletes it.
    void releaseReconstruction();
    /// Marching cubes over the volumes of the CPU or the GPU back-end on a
    /// worker of the thread pool; the result becomes `mesh` (null when
    /// nothing was reconstructed, which the user is told) and is shown.
    void generateMeshCpu(const TypedImage<float>& distance, const TypedImage<unsigned char>* colours);
    void generateMeshGpu(ClImage& distance, ClImage* colours);
    /// Shows the new `mesh` in the mesh view with the view's camera framing
    /// it; false, after telling the user, when there is no mesh.
    bool showGeneratedMesh();

    // The scan's hooks into the views (MainWindowScan.cpp).
    /// The point-cloud view's camera back at its start.
    void resetPointCloudCamera();
    /// The point-cloud view's camera orbits `centre` (camera coordinates of
    /// the volume's centre).
    void orbitPointCloudAround(const std::array<double, 3>& centre);
    /// The colour view shows the last colour frame taken while tracking held
    /// half-transparent over the live one (`overlay`), or the live one alone.
    void showLastTrackedColour(bool overlay);
    /// Points the mesh view's camera at the middle of the current mesh from
    /// far enough to see all of it.
    void frameMeshView();

    /// Stops the camera, a recording, a played sequence, the worker and the
    /// refresh, and waits for a back-end that is still being built.
    void stopScan();
    /// Deletes everything the window owns, in the order the scan needs.
    void deleteScanObjects();
    void clearClDevices();
    /// Waits, processing events, until `future` has finished.
    void waitFor(const QFuture<void>& future);

    std::unique_ptr<Ui_MainWindow> ui;

    InteractiveView* meshView = nullptr;
    GlMeshView* meshGlView = nullptr;
    ImageView2D* colorView = nullptr;
    GlSliceView* colorSliceView = nullptr;
    ImageView2D* depthView = nullptr;
    InteractiveView* pointCloudView = nullptr;
    GlPointCloudView* pointCloudGlView = nullptr;
    ImageView2D* sceneView = nullptr;
    GlSliceView* sceneSliceView = nullptr;
    /// The depth view's program; its slice owns it.
    GlProgram* depthMapProgram = nullptr;
    InteractionFilter* interactionFilter = nullptr;
    /// The other interactions of the views, which the views only point at.
    InteractionDepthMap* depthInteraction = nullptr;
    Interaction3D* pointCloudCamera = nullptr;
    Interaction3D* meshCamera = nullptr;

    RGBDSensor* sensor = nullptr;
    SurfaceReconstruction* reconstruction = nullptr;
    ReconstructionParameters* parameters = nullptr;

    SharedImage* depthImage = nullptr;
    SharedImage* colorImage = nullptr;
    SharedImage* displayColorImage = nullptr;
    SharedImage* sceneImage = nullptr;
    SharedImage* emptySceneImage = nullptr;
    SharedImage* incomingDepthImage = nullptr;
    SharedImage* incomingColorImage = nullptr;

    /// Frame rates of the camera (measured on the producer's thread) and of
    /// the worker during a reconstruction.
    FrameRateMeter cameraRate{500.0};
    FrameRateMeter reconstructionRate{1000.0};
    std::atomic<int> droppedRecordedFrames{0};
    int frameWidth = 0;
    int frameHeight = 0;

    QMutex* frameMutex = nullptr;
    std::atomic<bool> newFrame{false};
    bool meshSaved = false;
    std::atomic<bool> reconstructing{false};
    std::atomic<bool> workerRunning{false};
    int uiMode = 0;

    Mesh* mesh = nullptr;
    ClEnvironment* clEnvironment = nullptr;
    std::vector<std::pair<ClPlatform*, ClDevice*>> clDevices;

    QProgressDialog* sensorWaitDialog = nullptr;
    CountDownDialog* countDownDialog = nullptr;
    bool countDownCanceled = false;

    std::vector<float> componentAreas;
    float largestComponentArea = 0.0f;
    Mesh* cleanPreviewMesh = nullptr;
    FancyMeshManipulator* alignManipulator = nullptr;
    GlBoundingBox* cropBox = nullptr;
    FancyMeshManipulator* cropManipulator = nullptr;
    GlVolumeBoundingBox* volumeBox = nullptr;
    FancyMeshManipulator* volumeManipulator = nullptr;
    std::deque<Mesh*> undoStack;
    std::deque<Mesh*> redoStack;

    Playback* playback = nullptr;
    std::atomic<bool> recording{false};
    ImageRecorder* recorder = nullptr;
    bool cpuReconstruction = false;
    bool cpuMarchingCubes = false;
    std::atomic<bool> depthCutoffEnabled{false};
    std::atomic<int> depthCutoffMm{3200};
    boost::thread* workerThread = nullptr;

    /// The 20 ms refresh that calls `updateGUI`.
    QTimer* refreshTimer = nullptr;
    /// The timed end of the running reconstruction.
    QTimer* durationTimer = nullptr;
    /// The volume-to-camera pose of the frame the worker processed last
    /// during a reconstruction (column-major); guarded by `frameMutex`.
    std::array<float, 16> trackedPose{};
    /// Held while the back-end processes a frame or is reset.
    std::mutex backEndMutex;
    /// Nesting depth of slots that process events while they work, and
    /// whether a close was requested meanwhile.
    int busyDepth = 0;
    bool closeRequested = false;
    /// The window was closed and has let go of the scan; the starts that were
    /// scheduled at construction no longer run.
    bool closed = false;
    /// The back-end construction that `initCL` started on the thread pool.
    QFuture<void> reconstructionCreation;
};

}  // namespace Veltrane
