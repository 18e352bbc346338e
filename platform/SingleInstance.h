#pragma once

#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

namespace Veltrane {

/// Keeps a second copy of the application from running beside the first.
///
/// The first copy holds an exclusive lock on a file in the user's runtime
/// folder for as long as it lives (the operating system drops the lock when
/// the process ends, however it ends) and listens on a local socket next to
/// it. A later copy finds the lock taken and asks the first, through that
/// socket, to bring its window to the front.
///
/// Use: `acquire()` first; when it fails, `activateRunning()` hands over to
/// the running copy. The holder calls `listen()` once its Qt application
/// exists.
class SingleInstance {
public:
    /// `name` names the lock file and the socket; `runtimeFolder` empty means
    /// the user's runtime folder (XDG_RUNTIME_DIR or Qt's fall-back).
    explicit SingleInstance(const QString& name, const QString& runtimeFolder = QString());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    /// Takes the lock. False when another process holds it. A folder or file
    /// that cannot be made counts as free: the copy then runs unguarded.
    bool acquire();
    /// Asks the copy that holds the lock to show its window. False when no
    /// copy answers on the socket (for instance because it is still starting).
    bool activateRunning(int timeoutMs = 2000) const;
    /// Starts answering later copies: `onActivate` runs on this thread's event
    /// loop for each request. Only the holder of the lock listens.
    bool listen(std::function<void()> onActivate);

    QString lockFilePath() const;
    QString socketPath() const;

private:
    QString m_folder;
    QString m_name;
    int m_lockFd = -1;
    std::unique_ptr<QLocalServer> m_server;
};

}  // namespace Veltrane
