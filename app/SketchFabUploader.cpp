#include "app/SketchFabUploader.h"

#include "core/Logging.h"
#include "core/Mesh.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QHttpMultiPart>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <limits>
#include <sstream>
#include <string>
#include <utility>

namespace Veltrane {
namespace {

/// The service answers a refused upload with a JSON object whose second member
/// holds the reason, as in {"success": false, "error": "forbidden"}. The reason
/// is cut out of the text without parsing it: the part after the first comma,
/// in that the part after the first colon, in that the text between the first
/// two double quotes (all of it after a lone quote, or without any quote).
QString reasonInBody(const QString& body)
{
    const QString member = body.split(QLatin1Char(',')).value(1);
    const QString value = member.split(QLatin1Char(':')).value(1);
    const int open = value.indexOf(QLatin1Char('"'));
    if (open < 0) {
        return value;
    }
    const int close = value.indexOf(QLatin1Char('"'), open + 1);
    return close < 0 ? value.mid(open + 1) : value.mid(open + 1, close - open - 1);
}

bool isLoopback(const QString& host)
{
    QHostAddress address;
    return address.setAddress(host) && address.isLoopback();
}

bool succeeded(const QNetworkReply& reply)
{
    // Without error, but not accepted either: a redirect that is not followed.
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return reply.error() == QNetworkReply::NoError && status >= 200 && status < 300;
}

/// Why `reply` failed, as the dialog shows it.
QString failureReason(QNetworkReply& reply)
{
    // The uploader aborts only requests it no longer listens to, so a
    // cancelled request that still reports is one the time-out stopped.
    if (reply.error() == QNetworkReply::OperationCanceledError) {
        return QCoreApplication::translate("SketchFabUploader",
                                           "The service did not answer in time");
    }
    const QByteArray body = reply.readAll();
    if (body.isEmpty()) {
        if (reply.error() != QNetworkReply::NoError) {
            return reply.errorString();
        }
        return QStringLiteral("%1 %2")
            .arg(reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt())
            .arg(reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
    }
    const QString reason = reasonInBody(QString::fromUtf8(body));
    if (reason == QLatin1String("forbidden")) {
        return QCoreApplication::translate("SketchFabUploader",
                                           "Forbidden. Check if your API Key is correct");
    }
    return reason;
}

}  // namespace

const QUrl& SketchFabUploader::defaultServiceAddress()
{
    static const QUrl address(QStringLiteral("https://api.sketchfab.com"));
    return address;
}

SketchFabUploader::SketchFabUploader(const QString& apiKey, QObject* parent)
    : QObject(parent), m_apiKey(apiKey), m_serviceAddress(defaultServiceAddress())
{
}

SketchFabUploader::~SketchFabUploader()
{
    if (m_reply) {
        abandonReply();
    }
}

bool SketchFabUploader::setMesh(const Mesh& mesh)
{
    m_ply.clear();
    std::ostringstream out(std::ios::out | std::ios::binary);
    const bool written = mesh.writePly(out, true, true);
    const std::string ply = written ? out.str() : std::string();
    if (!written || ply.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        VELTRANE_ERROR("SketchFabUploader: Failed to export mesh!");
        return false;
    }
    m_ply = QByteArray(ply.data(), static_cast<int>(ply.size()));
    return true;
}

bool SketchFabUploader::setServiceAddress(const QUrl& address)
{
    const QString scheme = address.scheme().toLower();
    const bool secure = scheme == QLatin1String("https");
    const bool local = scheme == QLatin1String("http") && isLoopback(address.host());
    if (!address.isValid() || address.host().isEmpty() || !(secure || local)) {
        return false;
    }
    m_serviceAddress = address;
    return true;
}

bool SketchFabUploader::upload(const QString& title, const QString& description,
                               const QString& tags, bool isPrivate, const QString& password)
{
    if (m_reply || m_ply.isEmpty()) {
        return false;
    }
    auto* form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    form->append(addFormField(QStringLiteral("title"), title));
    form->append(addFormField(QStringLiteral("description"), description));
    form->append(addFormField(QStringLiteral("tags"), tags));
    form->append(addFormField(QStringLiteral("token"), m_apiKey));
    form->append(addFormField(QStringLiteral("private"), QString::number(isPrivate ? 1 : 0)));
    form->append(addFormField(QStringLiteral("password"), password));

    QHttpPart model;
    model.setHeader(QNetworkRequest::ContentTypeHeader,
                    QStringLiteral("application/octet-stream"));
    model.setHeader(QNetworkRequest::ContentDispositionHeader,
                    QStringLiteral("form-data; name=\"fileModel\"; filename=\"upload.ply\""));
    model.setBody(m_ply);
    form->append(model);

    QNetworkRequest request(m_serviceAddress.resolved(QUrl(QStringLiteral("/v1/models"))));
    request.setTransferTimeout(m_transferTimeout);
    m_reply = m_network.post(request, form);
    form->setParent(m_reply);
    connect(m_reply, &QNetworkReply::finished, this, &SketchFabUploader::onUploadFinished);
    connect(m_reply, &QNetworkReply::uploadProgress, this, &SketchFabUploader::onUploadProgress);
    return true;
}

QHttpPart SketchFabUploader::addFormField(const QString& name, const QString& value)
{
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentDispositionHeader,
                   QStringLiteral("form-data; name=\"%1\"").arg(name));
    part.setBody(value.toLatin1());
    return part;
}

void SketchFabUploader::cancelUpload()
{
    if (!m_reply) {
        return;
    }
    abandonReply();
    emit uploadCanceled();
}

void SketchFabUploader::onUploadFinished()
{
    QNetworkReply* reply = std::exchange(m_reply, nullptr);
    if (!reply) {
        return;
    }
    reply->deleteLater();
    if (succeeded(*reply)) {
        emit uploadFinished();
        return;
    }
    VELTRANE_ERROR("SketchFabUpload failed");
    emit uploadFailed(failureReason(*reply));
}

void SketchFabUploader::onUploadProgress(qint64 bytesSent, qint64 bytesTotal)
{
    emit uploadProgressMaximumChanged(static_cast<int>(bytesTotal));
    emit uploadProgressChanged(static_cast<int>(bytesSent));
}

void SketchFabUploader::abandonReply()
{
    QNetworkReply* reply = std::exchange(m_reply, nullptr);
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
}

}  // namespace Veltrane
