#include "AppTestSupport.h"
#include "FakeUploadService.h"
#include "app/SketchFabDialog.h"
#include "testsupport/Screenshots.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace Veltrane {
namespace {

template <typename Widget>
Widget* child(QWidget& dialog, const char* name)
{
    auto* widget = dialog.findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

/// A shown upload dialog for a small mesh, sending to a local service.
class UploadDialogTest : public ::testing::Test {
protected:
    UploadDialogTest()
    {
        QSettings().remove(QStringLiteral("SketchFab_API_Keys"));
        dialog = makeDialog(&mesh);
    }

    std::unique_ptr<SketchFabDialog> makeDialog(const Mesh* forMesh)
    {
        auto made = std::make_unique<SketchFabDialog>(forMesh, nullptr, Qt::FramelessWindowHint);
        made->uploader().setServiceAddress(service.address());
        made->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(made.get()));
        return made;
    }

    QLineEdit* field(const char* name) { return child<QLineEdit>(*dialog, name); }
    QWidget* box(const char* name) { return child<QWidget>(*dialog, name); }

    void fillIn(const QString& apiKey, const QString& title)
    {
        field("apiKey")->setText(apiKey);
        field("title")->setText(title);
    }

    /// Input: the fields and the Upload button usable, no progress bar.
    bool showsInput()
    {
        return box("infoBox")->isEnabled() && box("uploadBox")->isVisible() &&
               !box("progressBox")->isVisible();
    }

    bool showsUploading()
    {
        return !box("infoBox")->isEnabled() && !box("uploadBox")->isVisible() &&
               box("progressBox")->isVisible();
    }

    Mesh mesh = coloredQuad();
    FakeUploadService service;
    std::unique_ptr<SketchFabDialog> dialog;
};

TEST_F(UploadDialogTest, StartsInInputWithTheFormsTexts)
{
    EXPECT_EQ(dialog->objectName(), "topWidget");
    EXPECT_TRUE(dialog->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(dialog->windowTitle(), "Export to SketchFab");
    EXPECT_EQ(field("apiKey")->text(), "");
    EXPECT_EQ(field("title")->text(), "My scan");
    EXPECT_EQ(field("description")->placeholderText(), "Enter a short description");
    EXPECT_EQ(child<QPushButton>(*dialog, "uploadButton")->text(), "Upload (0.00 MB)");
    EXPECT_TRUE(child<QPushButton>(*dialog, "uploadButton")->isEnabled());
    EXPECT_TRUE(showsInput());
    EXPECT_EQ(dialog->size(), dialog->sizeHint());
    EXPECT_TRUE(saveScreenshot(*dialog, "upload-dialog"));
}

/// A mesh whose PLY file has exactly `bytes` bytes (without colours: the
/// header, 12 bytes per vertex and 13 per face), when there is one with at
/// least three vertices and one face.
Mesh meshWithPlySize(int bytes)
{
    for (int faces = 1; faces < 64; ++faces) {
        for (int digits = 1; digits <= 9; ++digits) {
            const std::string header = "ply\nformat binary_little_endian 1.0\nelement vertex " +
                                       std::string(static_cast<std::size_t>(digits), '0') +
                                       "\nproperty float x\nproperty float y\nproperty float z\n"
                                       "element face " + std::to_string(faces) +
                                       "\nproperty list uchar int vertex_indices\nend_header\n";
            const int rest = bytes - static_cast<int>(header.size()) - 13 * faces;
            const int vertices = rest / 12;
            if (rest % 12 == 0 && vertices >= 3 &&
                std::to_string(vertices).size() == static_cast<std::size_t>(digits)) {
                Mesh mesh;
                mesh.vertices().assign(static_cast<std::size_t>(vertices), Mesh::Vector::Zero());
                mesh.faces().assign(static_cast<std::size_t>(faces), Mesh::Triple(0, 1, 2));
                return mesh;
            }
        }
    }
    return Mesh();
}

TEST_F(UploadDialogTest, ShowsTheSizeOfTheUploadOnItsButton)
{
    struct Case {
        int plyBytes;
        const char* text;
    };
    // 1000 bytes count for the rest of the request; two decimals, rounded.
    const Case cases[] = {{1047576, "Upload (1.00 MB)"},
                          {1048576 * 5 / 2 - 1000, "Upload (2.50 MB)"},
                          {10000, "Upload (0.01 MB)"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plyBytes);
        const Mesh sized = meshWithPlySize(c.plyBytes);
        std::ostringstream ply;
        ASSERT_TRUE(sized.writePly(ply, true, true));
        ASSERT_EQ(ply.str().size(), static_cast<std::size_t>(c.plyBytes));
        const std::unique_ptr<SketchFabDialog> sizedDialog = makeDialog(&sized);
        EXPECT_EQ(child<QPushButton>(*sizedDialog, "uploadButton")->text(), c.text);
    }
}

TEST_F(UploadDialogTest, WithoutAMeshToSendTheUploadButtonIsDisabled)
{
    Mesh withoutFaces = coloredQuad();
    withoutFaces.faces().clear();
    const Mesh* unusableMeshes[] = {&withoutFaces, nullptr};
    for (const Mesh* unusable : unusableMeshes) {
        dialog = makeDialog(unusable);
        auto* upload = child<QPushButton>(*dialog, "uploadButton");
        EXPECT_EQ(upload->text(), "Upload (0.00 MB)");
        EXPECT_FALSE(upload->isEnabled());

        fillIn("key", "Bust");
        dialog->accept();
        EXPECT_TRUE(showsInput());
        EXPECT_TRUE(dialog->isVisible());
    }
    handleEventsFor(100);
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(UploadDialogTest, AsksForTheKeyAndTitleBeforeSending)
{
    struct Case {
        const char* apiKey;
        const char* title;
    };
    for (const Case& c : {Case{"", "Bust"}, Case{"key-123", ""}, Case{"", ""}}) {
        SCOPED_TRACE(std::string(c.apiKey) + "/" + c.title);
        MessageBoxLog boxes;
        fillIn(c.apiKey, c.title);
        dialog->accept();

        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Information);
        EXPECT_EQ(boxes.boxes()[0].title, "Enter API key and a title");
        EXPECT_EQ(boxes.boxes()[0].text, "Please enter a valid API key and a title first");
        EXPECT_TRUE(showsInput());
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_FALSE(QSettings().contains(QStringLiteral("SketchFab_API_Keys")));
    }
    handleEventsFor(100);
    EXPECT_TRUE(service.requests().empty());
}

TEST_F(UploadDialogTest, SendsTheInputAndClosesOnceTheServiceTookIt)
{
    fillIn("key-123", "Bust");
    field("description")->setText("A head");
    field("tags")->setText("head bust");
    child<QCheckBox>(*dialog, "private_2")->setChecked(true);
    field("password")->setText("secret");
    MessageBoxLog boxes;
    dialog->accept();

    ASSERT_TRUE(waitUntil([this] { return !dialog->isVisible(); }));
    EXPECT_TRUE(boxes.boxes().empty());
    ASSERT_EQ(service.requests().size(), 1u);
    const FakeUploadService::Request& request = service.requests().front();
    EXPECT_EQ(request.field("token"), "key-123");
    EXPECT_EQ(request.field("title"), "Bust");
    EXPECT_EQ(request.field("description"), "A head");
    EXPECT_EQ(request.field("tags"), "head bust korvastel 3Dscan");
    EXPECT_EQ(request.field("private"), "1");
    EXPECT_EQ(request.field("password"), "secret");
    std::ostringstream ply;
    ASSERT_TRUE(mesh.writePly(ply, true, true));
    EXPECT_EQ(request.field("fileModel").toStdString(), ply.str());
}

TEST_F(UploadDialogTest, AddsTheFixedTagsWithoutStraySpaces)
{
    struct Case {
        const char* typed;
        QByteArray sent;
    };
    const Case cases[] = {{"head bust", "head bust korvastel 3Dscan"},
                          {"", "korvastel 3Dscan"},
                          {"  head  ", "head   korvastel 3Dscan"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        dialog = makeDialog(&mesh);
        fillIn("key", "Bust");
        field("tags")->setText(c.typed);
        dialog->accept();
        ASSERT_TRUE(waitUntil([this] { return !dialog->isVisible(); }));
        EXPECT_EQ(service.requests().back().field("tags"), c.sent);
    }
}

TEST_F(UploadDialogTest, OffersTheStoredKeyTheNextTime)
{
    fillIn("key-123", "Bust");
    dialog->accept();
    ASSERT_TRUE(waitUntil([this] { return !dialog->isVisible(); }));
    EXPECT_EQ(QSettings().value(QStringLiteral("SketchFab_API_Keys")).toString(), "key-123");

    dialog = makeDialog(&mesh);
    EXPECT_EQ(field("apiKey")->text(), "key-123");
}

TEST_F(UploadDialogTest, ShowsOneBoxPerFailureAndReturnsToInput)
{
    service.answerWith(403, R"({"success": false, "error": "forbidden"})");
    fillIn("wrong-key", "Bust");
    MessageBoxLog boxes("upload-failed-box");
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        dialog->accept();
        EXPECT_TRUE(showsUploading());
        ASSERT_TRUE(waitUntil([&] { return boxes.boxes().size() == std::size_t(attempt); }));
        handleEventsFor(100);  // no second box for the same failure

        ASSERT_EQ(boxes.boxes().size(), std::size_t(attempt));
        const MessageBoxLog::Box& failure = boxes.boxes().back();
        EXPECT_EQ(failure.icon, QMessageBox::Critical);
        EXPECT_EQ(failure.title, "Upload failed!");
        EXPECT_EQ(failure.text, "The upload has failed. SketchFab returned error: "
                                "'Forbidden. Check if your API Key is correct'");
        EXPECT_TRUE(showsInput());
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(field("title")->text(), "Bust");
        EXPECT_EQ(QSettings().value(QStringLiteral("SketchFab_API_Keys")).toString(),
                  "wrong-key");
    }
    EXPECT_EQ(service.requests().size(), 2u);
}

TEST_F(UploadDialogTest, ShowsTheServersReasonAsPlainText)
{
    struct Case {
        QByteArray body;
        QString text;
    };
    const Case cases[] = {
        {R"({"success": false, "error": "<b>bad</b> <a href='x'>model</a>"})",
         "The upload has failed. SketchFab returned error: '<b>bad</b> <a href='x'>model</a>'"},
        {"no comma at all", "The upload has failed. SketchFab returned error: ''"},
    };
    fillIn("key", "Bust");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body.toStdString());
        service.answerWith(400, c.body);
        MessageBoxLog boxes;
        dialog->accept();
        ASSERT_TRUE(waitUntil([&] { return !boxes.boxes().empty(); }));
        EXPECT_EQ(boxes.boxes()[0].text, c.text);
        EXPECT_EQ(boxes.boxes()[0].format, Qt::PlainText);
    }
}

TEST_F(UploadDialogTest, AbortClosesTheDialogWithoutABox)
{
    service.stayQuiet();
    fillIn("key", "Bust");
    MessageBoxLog boxes;
    dialog->accept();
    ASSERT_TRUE(waitUntil([this] { return !service.requests().empty(); }));
    EXPECT_TRUE(showsUploading());
    child<QProgressBar>(*dialog, "progressBar")->setValue(40);
    EXPECT_TRUE(saveScreenshot(*dialog, "upload-dialog-uploading"));

    QTest::mouseClick(child<QPushButton>(*dialog, "abortButton"), Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(waitUntil([this] { return service.closedConnections() == 1; }));
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(UploadDialogTest, DestroyingTheDialogDuringAnUploadEndsIt)
{
    service.stayQuiet();
    fillIn("key", "Bust");
    MessageBoxLog boxes;
    dialog->accept();
    ASSERT_TRUE(waitUntil([this] { return !service.requests().empty(); }));

    dialog.reset();
    EXPECT_TRUE(waitUntil([this] { return service.closedConnections() == 1; }));
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(UploadDialogTest, HelpTellsWhereTheKeyIsFound)
{
    QPointer<QDialog> help;
    bool styled = false;
    QString linkText;
    bool opensLinks = false;
    bool showsPicture = false;
    // The help runs modally: look at it from inside its event loop.
    QTimer::singleShot(0, [&] {
        help = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!help) {
            ADD_FAILURE() << "no help dialog";
            return;
        }
        EXPECT_TRUE(QTest::qWaitForWindowExposed(help.data()));
        styled = help->objectName() == "topWidget" &&
                 (help->windowFlags() & Qt::FramelessWindowHint);
        for (const QLabel* label : help->findChildren<QLabel*>()) {
            showsPicture |= !label->pixmap(Qt::ReturnByValue).isNull();
            if (label->textFormat() == Qt::RichText) {
                linkText = label->text();
                opensLinks = label->openExternalLinks();
            }
        }
        EXPECT_TRUE(saveScreenshot(*help, "upload-help"));
        auto* buttons = help->findChild<QDialogButtonBox*>();
        if (buttons && buttons->button(QDialogButtonBox::Close)) {
            QTest::mouseClick(buttons->button(QDialogButtonBox::Close), Qt::LeftButton);
        } else {
            ADD_FAILURE() << "no Close button";
            help->reject();
        }
    });
    QTest::mouseClick(child<QPushButton>(*dialog, "apiHelp"), Qt::LeftButton);

    EXPECT_TRUE(help.isNull());  // closed and destroyed
    EXPECT_TRUE(styled);
    EXPECT_TRUE(opensLinks);
    EXPECT_TRUE(showsPicture);
    EXPECT_TRUE(linkText.startsWith("Goto <a href=\"https://sketchfab.com\">"));
    EXPECT_TRUE(linkText.contains("#00a1d4"));
    EXPECT_TRUE(linkText.endsWith("you can find your private API key on the right hand side"));
}

}  // namespace
}  // namespace Veltrane
