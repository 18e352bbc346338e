#pragma once

#include "app/MessageBoxes.h"
#include "core/Mesh.h"

#include <QByteArray>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <vector>

class QWidget;

namespace Veltrane {

/// Runs `run` in the application the window tests and benchmarks need: the
/// real OpenNI 2 drivers kept loaded, a QApplication named and styled as the
/// program's, settings of both scopes in a folder of this process's own, and
/// no network proxy. Returns what `run` returns, 1 when there is no folder.
int runInTestApplication(int argc, char** argv, const std::function<int()>& run);

/// Two coloured triangles: a mesh every writer takes.
Mesh coloredQuad();

/// The objects of the synthetic tabletop as a scan makes them: marching
/// cubes over their signed distance in 5 mm voxels, each vertex coloured
/// like the surface nearest to it, with normals. In millimetres from a corner
/// of the volume, y down as the camera sees it.
Mesh* tabletopMesh();

/// The whole contents of the file at `path`; empty if it cannot be read.
std::vector<unsigned char> readFileBytes(const QString& path);

/// Waits, handling events, until `condition` holds; false after `timeoutMs`.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
/// Handles events for `milliseconds`: time for anything late to arrive.
void handleEventsFor(int milliseconds);

/// Answers every message box shown while it exists with `answer` (OK unless
/// given) and remembers what each one said; the first box is also saved as a
/// screenshot when a name is given.
class MessageBoxLog {
public:
    struct Box {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        Qt::TextFormat format;
    };

    explicit MessageBoxLog(const QString& screenshotName = QString(),
                           QMessageBox::StandardButton answer = QMessageBox::Ok);
    ~MessageBoxLog();
    MessageBoxLog(const MessageBoxLog&) = delete;
    MessageBoxLog& operator=(const MessageBoxLog&) = delete;

    const std::vector<Box>& boxes() const { return m_boxes; }

private:
    std::vector<Box> m_boxes;
    MessageBoxes::Runner m_previous;
};

/// Answers the file dialogs opened while it exists, in order, the way a user
/// would: the first answer goes to the first dialog, and so on. An answer
/// picks its filter entry (when given), names its file and accepts; an
/// answer with an empty path cancels, and so is a dialog beyond the answers.
/// A question whether to replace an existing file is answered Yes. Remembers
/// the folder each dialog opened in.
class FileDialogAnswers {
public:
    struct Answer {
        QString path;
        QString filter;
    };

    explicit FileDialogAnswers(std::vector<Answer> answers);

    /// The folders the dialogs opened in, as absolute paths.
    const QStringList& openedIn() const { return m_openedIn; }
    /// Answers not used yet.
    std::size_t pending() const { return m_answers.size(); }

private:
    void answerModalDialog();

    std::deque<Answer> m_answers;
    QStringList m_openedIn;
    QTimer m_timer;
};

/// Sets an environment variable for as long as it exists, then restores it.
class EnvironmentSetting {
public:
    EnvironmentSetting(const char* name, const QByteArray& value);
    ~EnvironmentSetting();
    EnvironmentSetting(const EnvironmentSetting&) = delete;
    EnvironmentSetting& operator=(const EnvironmentSetting&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

/// What `window` shows, with the pictures of its display widgets, which a
/// plain grab leaves black.
QPixmap windowPicture(QWidget& window);

/// Writes windowPicture(`window`) to screenshotPath(`name`); false when the
/// file could not be written.
bool saveWindowScreenshot(QWidget& window, const QString& name);

/// Writes the picture of `window` with `dialog` over it where it stands on
/// the screen to screenshotPath(`name`); false when the file could not be
/// written.
bool saveScreenshotWithDialog(QWidget& window, QWidget& dialog, const QString& name);

}  // namespace Veltrane
