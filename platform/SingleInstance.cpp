#include "platform/SingleInstance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace Veltrane {

namespace {

/// What a later copy sends; anything else on the socket is ignored.
const QByteArray activationRequest = "show\n";

}  // namespace

SingleInstance::SingleInstance(const QString& name, const QString& runtimeFolder)
    : m_folder(runtimeFolder.isEmpty()
                   ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                   : runtimeFolder),
      m_name(name)
{
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString SingleInstance::lockFilePath() const
{
    return QDir(m_folder).filePath(m_name + ".lock");
}

QString SingleInstance::socketPath() const
{
    return QDir(m_folder).filePath(m_name + ".socket");
}

bool SingleInstance::acquire()
{
    if (m_lockFd >= 0)
        return true;
    if (m_folder.isEmpty() || !QDir().mkpath(m_folder))
        return true;
    const QByteArray path = QFile::encodeName(lockFilePath());
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_lockFd = fd;
    return true;
}

bool SingleInstance::activateRunning(int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(activationRequest);
    const bool sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return sent;
}

bool SingleInstance::listen(std::function<void()> onActivate)
{
    if (m_lockFd < 0 || m_server)
        return false;
    // Whatever socket is left there belongs to a copy that has ended: the
    // lock is ours.
    QLocalServer::removeServer(socketPath());
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath()))
        return false;
    QLocalServer* raw = server.get();
    QObject::connect(raw, &QLocalServer::newConnection, raw, [raw, onActivate]() {
        while (QLocalSocket* socket = raw->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            const auto readRequest = [socket, onActivate]() {
                if (socket->canReadLine() && socket->readLine() == activationRequest)
                    onActivate();
            };
            QObject::connect(socket, &QLocalSocket::readyRead, socket, readRequest);
            readRequest();
        }
    });
    m_server = std::move(server);
    return true;
}

}  // namespace Veltrane
