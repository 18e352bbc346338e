#include "FakeUploadService.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace Veltrane {
namespace {

const QByteArray lineEnd = "\r\n";
const QByteArray headerEnd = "\r\n\r\n";

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 301: return "Moved Permanently";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

/// Header lines "Name: value" into a map with lower-case names.
QMap<QByteArray, QByteArray> parseHeaders(const QList<QByteArray>& lines)
{
    QMap<QByteArray, QByteArray> headers;
    for (const QByteArray& line : lines) {
        const int colon = line.indexOf(':');
        if (colon > 0) {
            headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
    }
    return headers;
}

}  // namespace

QList<FakeUploadService::FormPart> FakeUploadService::Request::formParts() const
{
    const QByteArray contentType = headers.value("content-type");
    const int at = contentType.indexOf("boundary=");
    if (!contentType.startsWith("multipart/form-data") || at < 0) {
        return {};
    }
    QByteArray boundary = contentType.mid(at + 9);
    if (boundary.startsWith('"')) {
        boundary = boundary.mid(1, boundary.indexOf('"', 1) - 1);
    }
    const QByteArray delimiter = "--" + boundary;

    QList<FormPart> parts;
    int from = body.indexOf(delimiter);
    while (from >= 0) {
        const int start = from + delimiter.size();
        if (body.mid(start, 2) == "--") {
            break;  // the closing delimiter
        }
        const int next = body.indexOf(lineEnd + delimiter, start);
        if (next < 0) {
            break;
        }
        const QByteArray part = body.mid(start + lineEnd.size(), next - start - lineEnd.size());
        const int split = part.indexOf(headerEnd);
        const QMap<QByteArray, QByteArray> partHeaders = parseHeaders(part.left(split).split('\n'));
        parts.append({partHeaders.value("content-disposition"), partHeaders.value("content-type"),
                      part.mid(split + headerEnd.size())});
        from = next + lineEnd.size();
    }
    return parts;
}

QByteArray FakeUploadService::Request::field(const QByteArray& name) const
{
    const QByteArray disposition = "form-data; name=\"" + name + "\"";
    for (const FormPart& part : formParts()) {
        if (part.disposition == disposition || part.disposition.startsWith(disposition + ';')) {
            return part.body;
        }
    }
    return {};
}

FakeUploadService::FakeUploadService()
{
    m_server.listen(QHostAddress::LocalHost);
    connect(&m_server, &QTcpServer::newConnection, this, &FakeUploadService::onNewConnection);
}

QUrl FakeUploadService::address() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
}

void FakeUploadService::answerWith(int status, const QByteArray& body)
{
    m_behaviour = Behaviour::Answer;
    m_status = status;
    m_body = body;
}

void FakeUploadService::closeWithoutAnswer()
{
    m_behaviour = Behaviour::Close;
}

void FakeUploadService::stayQuiet()
{
    m_behaviour = Behaviour::Silent;
}

void FakeUploadService::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            ++m_closedConnections;
            m_received.remove(socket);
            socket->deleteLater();
        });
    }
}

void FakeUploadService::onReadyRead(QTcpSocket* socket)
{
    QByteArray& data = m_received[socket];
    data += socket->readAll();
    const int headersEnd = data.indexOf(headerEnd);
    if (headersEnd < 0) {
        return;
    }
    QList<QByteArray> lines = data.left(headersEnd).split('\n');
    const QList<QByteArray> requestLine = lines.takeFirst().trimmed().split(' ');
    Request request{requestLine.value(0), requestLine.value(1), parseHeaders(lines), {}};
    const int length = request.headers.value("content-length").toInt();
    const int bodyStart = headersEnd + headerEnd.size();
    if (data.size() < bodyStart + length) {
        return;
    }
    request.body = data.mid(bodyStart, length);
    data.remove(0, bodyStart + length);
    m_requests.push_back(request);
    respond(socket);
}

void FakeUploadService::respond(QTcpSocket* socket)
{
    switch (m_behaviour) {
    case Behaviour::Answer: {
        QByteArray answer = "HTTP/1.1 " + QByteArray::number(m_status) + ' ' +
                            reasonPhrase(m_status) + lineEnd;
        if (m_status / 100 == 3) {
            answer += "Location: https://example.com/elsewhere" + lineEnd;
        }
        answer += "Content-Type: application/json" + lineEnd + "Content-Length: " +
                  QByteArray::number(m_body.size()) + lineEnd + "Connection: close" +
                  headerEnd + m_body;
        socket->write(answer);
        socket->disconnectFromHost();
        break;
    }
    case Behaviour::Close:
        socket->abort();
        break;
    case Behaviour::Silent:
        break;
    }
}

}  // namespace Veltrane
