#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

#include <vector>

class QTcpSocket;

namespace Veltrane {

/// A stand-in for the model hosting service on 127.0.0.1: it reads each HTTP
/// request, keeps it, and then answers it, closes the connection without an
/// answer, or stays silent, as told.
class FakeUploadService : public QObject {
    Q_OBJECT
public:
    /// One part of a multipart form.
    struct FormPart {
        QByteArray disposition;  ///< the Content-Disposition header's value
        QByteArray contentType;  ///< empty when the part has none
        QByteArray body;
    };

    struct Request {
        QByteArray method;
        QByteArray path;
        QMap<QByteArray, QByteArray> headers;  ///< names in lower case
        QByteArray body;

        /// The parts of a multipart body, in order; empty when it is none.
        QList<FormPart> formParts() const;
        /// The body of the form part called `name`; empty when there is none.
        QByteArray field(const QByteArray& name) const;
    };

    /// Listens on a free port of 127.0.0.1; answers 201 with a success body
    /// until told otherwise.
    FakeUploadService();

    /// http://127.0.0.1:<port>
    QUrl address() const;

    /// Answers every request from now on with `status` and `body` (JSON); a
    /// redirect points elsewhere.
    void answerWith(int status, const QByteArray& body);
    /// Closes each connection once its request has been read.
    void closeWithoutAnswer();
    /// Reads requests and never answers.
    void stayQuiet();
    /// Stops listening: connections are refused.
    void shutDown() { m_server.close(); }

    const std::vector<Request>& requests() const { return m_requests; }
    /// Connections that have ended, closed by either side.
    int closedConnections() const { return m_closedConnections; }

private:
    enum class Behaviour { Answer, Close, Silent };

    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void respond(QTcpSocket* socket);

    QTcpServer m_server;
    Behaviour m_behaviour = Behaviour::Answer;
    int m_status = 201;
    QByteArray m_body = R"({"success": true, "result": {"id": "a1b2c3"}})";
    std::vector<Request> m_requests;
    QMap<QTcpSocket*, QByteArray> m_received;
    int m_closedConnections = 0;
};

}  // namespace Veltrane
