#pragma once

#include <QByteArray>
#include <QHttpPart>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkReply;

namespace Veltrane {

class Mesh;

/// Uploads a mesh to the Sketchfab model hosting service: one multipart form
/// POST to the path "/v1/models" of the service address with the text fields
/// "title", "description", "tags", "token" (the API key), "private" and
/// "password", in this order, followed by the model as the binary PLY file
/// "upload.ply" in the part "fileModel".
///
/// The PLY file is written into memory once, when the mesh is set, so that the
/// size of the upload is known before it starts; after a failure the same file
/// can be sent again.
///
/// One request at a time. GUI thread only: the network's notifications arrive
/// through the event loop of the thread that owns the uploader.
class SketchFabUploader : public QObject {
    Q_OBJECT
public:
    /// The real service, over TLS.
    static const QUrl& defaultServiceAddress();
    /// How long a request may go without a byte sent or received before it
    /// fails, in milliseconds.
    static constexpr int defaultTransferTimeout = 30000;

    explicit SketchFabUploader(const QString& apiKey = QString(), QObject* parent = nullptr);
    /// Aborts a request in flight without emitting anything: whoever listens
    /// may be half destroyed already.
    ~SketchFabUploader() override;

    /// Writes `mesh` into memory as a binary PLY file, each vertex as
    /// (x, z, -y) of the mesh, replacing the file held before. False, with an
    /// ERROR logged, when the mesh has no vertices or faces or cannot be
    /// written; no file is held for upload then.
    bool setMesh(const Mesh& mesh);
    /// Size in bytes of the PLY file held for upload; 0 when there is none.
    int plySize() const { return m_ply.size(); }

    /// The key sent as the form field "token".
    void setApiKey(const QString& apiKey) { m_apiKey = apiKey; }
    const QString& apiKey() const { return m_apiKey; }

    /// Where requests go: scheme, host and port (any path is replaced by
    /// "/v1/models"). Since the request carries the API key and password, only
    /// https is accepted, and plain http to a loopback address for a service on
    /// this machine; anything else returns false and keeps the address.
    bool setServiceAddress(const QUrl& address);
    const QUrl& serviceAddress() const { return m_serviceAddress; }
    /// Stall time-out of the requests started from now on, in milliseconds;
    /// 0 waits for ever.
    void setTransferTimeout(int milliseconds) { m_transferTimeout = milliseconds; }

    /// Starts the upload of the PLY file held. Text goes out as Latin-1 with
    /// every character outside it sent as "?"; empty values are sent as empty
    /// parts; the private flag is sent as "1" or "0". False, and nothing sent,
    /// while another request runs or when no file is held.
    bool upload(const QString& title, const QString& description, const QString& tags,
                bool isPrivate, const QString& password);
    /// True from a successful upload() until the request has ended.
    bool isUploading() const { return m_reply != nullptr; }

    /// One text part of the form: Content-Disposition form-data; name="`name`"
    /// and `value` in Latin-1 as its body.
    static QHttpPart addFormField(const QString& name, const QString& value);

public slots:
    /// Aborts the request in flight and emits uploadCanceled(); nothing happens
    /// without one.
    void cancelUpload();

signals:
    /// Bytes of the request in all, then sent so far (each cut to 32 bits),
    /// whenever more were sent.
    void uploadProgressMaximumChanged(int bytesTotal);
    void uploadProgressChanged(int bytesSent);
    /// The service took the model.
    void uploadFinished();
    /// The request failed. `message` is the reason the service gave; for a
    /// failure without an answer, what went wrong on the way.
    void uploadFailed(QString message);
    /// cancelUpload() ended the request.
    void uploadCanceled();

private slots:
    void onUploadFinished();
    void onUploadProgress(qint64 bytesSent, qint64 bytesTotal);

private:
    /// Stops listening to the request in flight, aborts and releases it.
    void abandonReply();

    QByteArray m_ply;
    QString m_apiKey;
    QUrl m_serviceAddress;
    int m_transferTimeout = defaultTransferTimeout;
    QNetworkAccessManager m_network;
    QNetworkReply* m_reply = nullptr;
};

}  // namespace Veltrane
