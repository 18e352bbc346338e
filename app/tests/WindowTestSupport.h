#pragma once

#include "app/MainWindow.h"
#include "app/ModalRunner.h"

#include <QString>

#include <functional>
#include <vector>

class QMessageBox;

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
};

/// What a message box showed when a test answered it.
struct ShownBox {
    int icon = 0;
    QString title;
    QString text;
    QString objectName;
    QString styleSheet;
    Qt::WindowFlags flags;
    std::vector<QString> buttonTexts;
};

/// Answers every modal dialog while it exists: a message box is recorded and
/// answered with `answer` (QMessageBox::Ok by default); other dialogs are
/// rejected. Restores the previous runner when it goes.
class AnsweredBoxes {
public:
    explicit AnsweredBoxes(int answer = 0x00000400);
    ~AnsweredBoxes();
    AnsweredBoxes(const AnsweredBoxes&) = delete;
    AnsweredBoxes& operator=(const AnsweredBoxes&) = delete;

    const std::vector<ShownBox>& boxes() const { return m_boxes; }
    /// Boxes whose title is `title`.
    std::size_t count(const QString& title) const;
    /// Runs `onShow` with each message box while it is on screen, before it
    /// is answered.
    void whileShown(std::function<void(QMessageBox&)> onShow) { m_onShow = std::move(onShow); }

private:
    int m_answer;
    std::vector<ShownBox> m_boxes;
    std::function<void(QMessageBox&)> m_onShow;
    ModalRunner m_previous;
};

/// Processes events until `done` holds or `timeoutMs` have passed; returns
/// whether it holds.
bool processEventsUntil(const std::function<bool()>& done, int timeoutMs = 20000);

/// The folder that tests write screenshots into (made when missing).
QString screenshotFolder();

}  // namespace Veltrane
