#include "AppTestSupport.h"
#include "FakeUploadService.h"
#include "app/SketchFabUploader.h"
#include "testsupport/LogCapture.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace Veltrane {
namespace {

/// An uploader holding a small mesh, pointed at a local service, with every
/// signal recorded.
class UploaderTest : public ::testing::Test {
protected:
    UploaderTest() : uploader(QStringLiteral("key-123"))
    {
        uploader.setServiceAddress(service.address());
        uploader.setMesh(coloredQuad());
    }

    /// Waits until the request in flight has ended.
    bool waitForEnd()
    {
        return waitUntil([this] { return !uploader.isUploading(); });
    }

    int signalsEmitted() const
    {
        return finished.count() + failed.count() + canceled.count();
    }

    FakeUploadService service;
    SketchFabUploader uploader;
    QSignalSpy finished{&uploader, &SketchFabUploader::uploadFinished};
    QSignalSpy failed{&uploader, &SketchFabUploader::uploadFailed};
    QSignalSpy canceled{&uploader, &SketchFabUploader::uploadCanceled};
};

TEST_F(UploaderTest, PostsTheFieldsAndTheModelAsAMultipartFormInOrder)
{
    ASSERT_TRUE(uploader.upload("Bust", "A head", "head korvastel 3Dscan", false, ""));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(signalsEmitted(), 1);

    ASSERT_EQ(service.requests().size(), 1u);
    const FakeUploadService::Request& request = service.requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/v1/models");
    EXPECT_TRUE(request.headers.value("content-type").startsWith("multipart/form-data; boundary="));

    const QList<FakeUploadService::FormPart> parts = request.formParts();
    const std::vector<std::pair<QByteArray, QByteArray>> expected = {
        {"form-data; name=\"title\"", "Bust"},
        {"form-data; name=\"description\"", "A head"},
        {"form-data; name=\"tags\"", "head korvastel 3Dscan"},
        {"form-data; name=\"token\"", "key-123"},
        {"form-data; name=\"private\"", "0"},
        {"form-data; name=\"password\"", ""},
    };
    ASSERT_EQ(parts.size(), static_cast<int>(expected.size()) + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].first.toStdString());
        EXPECT_EQ(parts[static_cast<int>(i)].disposition, expected[i].first);
        EXPECT_EQ(parts[static_cast<int>(i)].body, expected[i].second);
        EXPECT_TRUE(parts[static_cast<int>(i)].contentType.isEmpty());
    }

    // The model: the mesh as binary PLY, turned so that y becomes z and z
    // becomes -y.
    const FakeUploadService::FormPart& model = parts.back();
    EXPECT_EQ(model.disposition, "form-data; name=\"fileModel\"; filename=\"upload.ply\"");
    EXPECT_EQ(model.contentType, "application/octet-stream");
    std::ostringstream ply;
    ASSERT_TRUE(coloredQuad().writePly(ply, true, true));
    EXPECT_EQ(model.body.toStdString(), ply.str());
    EXPECT_EQ(uploader.plySize(), static_cast<int>(ply.str().size()));
}

TEST_F(UploaderTest, SendsThePrivateFlagAndPasswordAsGiven)
{
    struct Case {
        bool isPrivate;
        QString password;
        QByteArray sentFlag;
    };
    const Case cases[] = {{true, "secret", "1"}, {false, "", "0"}, {true, "", "1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sentFlag.toStdString() + " " + c.password.toStdString());
        ASSERT_TRUE(uploader.upload("Bust", "", "", c.isPrivate, c.password));
        ASSERT_TRUE(waitForEnd());
        EXPECT_EQ(service.requests().back().field("private"), c.sentFlag);
        EXPECT_EQ(service.requests().back().field("password"), c.password.toLatin1());
    }
    EXPECT_EQ(finished.count(), 3);
}

TEST_F(UploaderTest, SendsTextAsLatin1WithQuestionMarksForOtherCharacters)
{
    ASSERT_TRUE(uploader.upload(QString::fromUtf8("Büste ☃ 头"), QString::fromUtf8("Ärger"),
                                QString::fromUtf8("têtes"), false, QString::fromUtf8("pä☃")));
    ASSERT_TRUE(waitForEnd());
    const FakeUploadService::Request& request = service.requests().front();
    EXPECT_EQ(request.field("title"), QByteArray("B\xFCste ? ?"));
    EXPECT_EQ(request.field("description"), QByteArray("\xC4rger"));
    EXPECT_EQ(request.field("tags"), QByteArray("t\xEAtes"));
    EXPECT_EQ(request.field("password"), QByteArray("p\xE4?"));
}

TEST_F(UploaderTest, ReportsTheProgressOfTheWholeRequest)
{
    QSignalSpy sent(&uploader, &SketchFabUploader::uploadProgressChanged);
    QSignalSpy total(&uploader, &SketchFabUploader::uploadProgressMaximumChanged);
    ASSERT_TRUE(uploader.upload("Bust", "", "", false, ""));
    ASSERT_TRUE(waitForEnd());

    ASSERT_EQ(sent.count(), total.count());
    const int requestSize = service.requests().front().headers.value("content-length").toInt();
    EXPECT_GT(requestSize, uploader.plySize());
    // One of the steps has all bytes sent.
    bool allSent = false;
    for (int i = 0; i < sent.count(); ++i) {
        allSent |= total[i].at(0).toInt() == requestSize && sent[i].at(0).toInt() == requestSize;
    }
    EXPECT_TRUE(allSent);
}

/// What the service (or the way to it) answers, and the reason the uploader
/// reports.
struct FailureCase {
    const char* name;
    std::function<void(FakeUploadService&)> answer;
    std::function<bool(const QString&)> expectedReason;
    int transferTimeout = SketchFabUploader::defaultTransferTimeout;
};

std::function<bool(const QString&)> is(const QString& expected)
{
    return [expected](const QString& reason) { return reason == expected; };
}

std::function<bool(const QString&)> mentions(const QString& part)
{
    return [part](const QString& reason) { return reason.contains(part, Qt::CaseInsensitive); };
}

std::function<void(FakeUploadService&)> answer(int status, const QByteArray& body)
{
    return [status, body](FakeUploadService& s) { s.answerWith(status, body); };
}

TEST_F(UploaderTest, TurnsEveryFailureIntoItsReason)
{
    const FailureCase cases[] = {
        {"refused key", answer(403, R"({"success": false, "error": "forbidden"})"),
         is("Forbidden. Check if your API Key is correct")},
        {"reason of the service", answer(400, R"({"success": false, "error": "Invalid model"})"),
         is("Invalid model")},
        {"no comma", answer(400, "Bad request"), is("")},
        {"number", answer(400, R"({"success": false, "code": 42})"), is(" 42}")},
        {"comma in the reason", answer(400, R"({"success": false, "error": "big, slow"})"),
         is("big")},
        {"colon in the reason", answer(400, R"({"success": false, "error": "size: 9 GB"})"),
         is("size")},
        {"lone quote", answer(500, R"x({"success": false, "error": "cut off)x"), is("cut off")},
        {"no body", answer(500, ""), mentions("Internal Server Error")},
        {"redirect", answer(301, ""), is("301 Moved Permanently")},
        {"connection closed", [](FakeUploadService& s) { s.closeWithoutAnswer(); },
         mentions("closed")},
        {"nobody listening", [](FakeUploadService& s) { s.shutDown(); }, mentions("refused")},
        {"time-out", [](FakeUploadService& s) { s.stayQuiet(); },
         is("The service did not answer in time"), 300},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeUploadService caseService;
        c.answer(caseService);
        ASSERT_TRUE(uploader.setServiceAddress(caseService.address()));
        uploader.setTransferTimeout(c.transferTimeout);
        failed.clear();
        LogCapture log;

        ASSERT_TRUE(uploader.upload("Bust", "", "", false, ""));
        ASSERT_TRUE(waitForEnd());
        ASSERT_EQ(failed.count(), 1);
        const QString reason = failed.front().at(0).toString();
        EXPECT_TRUE(c.expectedReason(reason)) << reason.toStdString();
        EXPECT_EQ(log.countStartingWith("ERROR SketchFabUpload failed"), 1u);
    }
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(canceled.count(), 0);
}

TEST_F(UploaderTest, SucceedsAfterAFailedAttempt)
{
    service.answerWith(403, R"({"success": false, "error": "forbidden"})");
    ASSERT_TRUE(uploader.upload("Bust", "", "", false, ""));
    ASSERT_TRUE(waitForEnd());
    service.answerWith(201, R"({"success": true, "result": {"id": "x"}})");
    ASSERT_TRUE(uploader.upload("Bust", "", "", false, ""));
    ASSERT_TRUE(waitForEnd());

    EXPECT_EQ(failed.count(), 1);
    EXPECT_EQ(finished.count(), 1);
    ASSERT_EQ(service.requests().size(), 2u);
    // The same model went out both times.
    EXPECT_EQ(service.requests()[1].field("fileModel").size(), uploader.plySize());
    EXPECT_EQ(service.requests()[0].field("fileModel"), service.requests()[1].field("fileModel"));
}

TEST_F(UploaderTest, RefusesASecondUploadWhileOneRuns)
{
    service.stayQuiet();
    ASSERT_TRUE(uploader.upload("First", "", "", false, ""));
    EXPECT_FALSE(uploader.upload("Second", "", "", false, ""));
    ASSERT_TRUE(waitUntil([this] { return service.requests().size() == 1; }));

    uploader.cancelUpload();
    EXPECT_EQ(canceled.count(), 1);
    EXPECT_TRUE(waitUntil([this] { return service.closedConnections() == 1; }));
    ASSERT_EQ(service.requests().size(), 1u);
    EXPECT_EQ(service.requests().front().field("title"), "First");
}

TEST_F(UploaderTest, CancelEndsTheRequestWithOnlyTheCancelSignal)
{
    struct Moment {
        const char* name;
        bool whileSending;  ///< from the first progress report, else while waiting for the answer
    };
    const Moment moments[] = {{"while sending", true}, {"while waiting", false}};
    service.stayQuiet();
    for (const Moment& moment : moments) {
        SCOPED_TRACE(moment.name);
        canceled.clear();
        QMetaObject::Connection cancelOnProgress;
        if (moment.whileSending) {
            cancelOnProgress = QObject::connect(&uploader, &SketchFabUploader::uploadProgressChanged,
                                                &uploader, &SketchFabUploader::cancelUpload);
        }
        ASSERT_TRUE(uploader.upload("Bust", "", "", false, ""));
        if (!moment.whileSending) {
            ASSERT_TRUE(waitUntil([this] { return !service.requests().empty(); }));
            uploader.cancelUpload();
        }
        ASSERT_TRUE(waitForEnd());
        QObject::disconnect(cancelOnProgress);
        handleEventsFor(100);  // nothing may follow late

        EXPECT_EQ(canceled.count(), 1);
        EXPECT_EQ(signalsEmitted(), 1);
    }

    // Idle, cancelling does nothing; a new upload goes through.
    uploader.cancelUpload();
    EXPECT_EQ(canceled.count(), 1);
    service.answerWith(201, R"({"success": true})");
    ASSERT_TRUE(uploader.upload("Bust", "", "", false, ""));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(finished.count(), 1);
}

TEST(SketchFabUploader, DestructionAbortsTheRequestSilently)
{
    FakeUploadService service;
    service.stayQuiet();
    auto uploader = std::make_unique<SketchFabUploader>(QStringLiteral("key"));
    ASSERT_TRUE(uploader->setServiceAddress(service.address()));
    ASSERT_TRUE(uploader->setMesh(coloredQuad()));
    int signalsAfterDestruction = 0;
    for (auto signal : {&SketchFabUploader::uploadFinished, &SketchFabUploader::uploadCanceled}) {
        QObject::connect(uploader.get(), signal, [&] { ++signalsAfterDestruction; });
    }
    QObject::connect(uploader.get(), &SketchFabUploader::uploadFailed,
                     [&] { ++signalsAfterDestruction; });

    ASSERT_TRUE(uploader->upload("Bust", "", "", false, ""));
    ASSERT_TRUE(waitUntil([&] { return !service.requests().empty(); }));
    uploader.reset();

    EXPECT_TRUE(waitUntil([&] { return service.closedConnections() == 1; }));
    EXPECT_EQ(signalsAfterDestruction, 0);
}

TEST(SketchFabUploader, AMeshThatCannotBeWrittenIsNotUploaded)
{
    FakeUploadService service;
    SketchFabUploader uploader;
    ASSERT_TRUE(uploader.setServiceAddress(service.address()));
    ASSERT_TRUE(uploader.setMesh(coloredQuad()));
    ASSERT_GT(uploader.plySize(), 0);

    LogCapture log;
    Mesh withoutFaces = coloredQuad();
    withoutFaces.faces().clear();
    EXPECT_FALSE(uploader.setMesh(withoutFaces));
    EXPECT_TRUE(log.contains("ERROR SketchFabUploader: Failed to export mesh!"));
    // Neither a partial file nor the previous mesh is left to send.
    EXPECT_EQ(uploader.plySize(), 0);
    EXPECT_FALSE(uploader.upload("Bust", "", "", false, ""));
    EXPECT_FALSE(uploader.isUploading());
    handleEventsFor(100);
    EXPECT_TRUE(service.requests().empty());
}

TEST(SketchFabUploader, SendsTheKeyOnlyOverTlsOrToThisMachine)
{
    SketchFabUploader uploader;
    EXPECT_EQ(uploader.serviceAddress(), QUrl("https://api.sketchfab.com"));
    struct Case {
        const char* address;
        bool accepted;
    };
    const Case cases[] = {
        {"https://api.sketchfab.com", true},
        {"https://upload.example.org:8443", true},
        {"http://127.0.0.1:8080", true},
        {"http://[::1]:8080", true},
        {"HTTP://127.0.0.1", true},
        {"http://api.sketchfab.com", false},
        {"http://localhost:8080", false},
        {"http://127.0.0.1.example.org", false},
        {"http://192.168.1.20", false},
        {"ftp://127.0.0.1", false},
        {"https://", false},
        {"", false},
    };
    const QUrl kept("https://kept.example.org");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        ASSERT_TRUE(uploader.setServiceAddress(kept));
        EXPECT_EQ(uploader.setServiceAddress(QUrl(c.address)), c.accepted);
        EXPECT_EQ(uploader.serviceAddress(), c.accepted ? QUrl(c.address) : kept);
    }
}

}  // namespace
}  // namespace Veltrane
