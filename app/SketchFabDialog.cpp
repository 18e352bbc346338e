#include "app/SketchFabDialog.h"

#include "app/MessageBoxes.h"
#include "app/TopWidgetStyle.h"
#include "core/Mesh.h"
#include "ui_SketchFabDialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPixmap>
#include <QSettings>
#include <QVBoxLayout>

namespace Veltrane {
namespace {

const QString apiKeySetting = QStringLiteral("SketchFab_API_Keys");

/// Size of an upload of `bytes` as the Upload button shows it: mebibytes with
/// two decimals, counting 1000 bytes for the rest of the request.
QString uploadSize(int bytes)
{
    const float mebibytes = (static_cast<float>(bytes) + 1000.0f) / 1048576.0f;
    return QString::number(static_cast<double>(mebibytes), 'f', 2);
}

}  // namespace

SketchFabDialog::SketchFabDialog(const Mesh* mesh, QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), m_form(std::make_unique<Ui::SketchFabDialog>())
{
    m_form->setupUi(this);
    applyTopWidgetStyle(*this);
    m_form->apiKey->setText(QSettings().value(apiKeySetting).toString());

    const bool hasModel = mesh && m_uploader.setMesh(*mesh);
    m_form->uploadButton->setText(
        m_form->uploadButton->text().arg(uploadSize(m_uploader.plySize())));
    m_form->uploadButton->setEnabled(hasModel);

    connect(&m_uploader, &SketchFabUploader::uploadProgressMaximumChanged, m_form->progressBar,
            &QProgressBar::setMaximum);
    connect(&m_uploader, &SketchFabUploader::uploadProgressChanged, m_form->progressBar,
            &QProgressBar::setValue);
    connect(&m_uploader, &SketchFabUploader::uploadFinished, this, &QDialog::close);
    connect(&m_uploader, &SketchFabUploader::uploadCanceled, this, &QDialog::close);
    connect(&m_uploader, &SketchFabUploader::uploadFailed, this,
            &SketchFabDialog::onUploadFailed);
    connect(m_form->abortButton, &QPushButton::clicked, &m_uploader,
            &SketchFabUploader::cancelUpload);

    showUploading(false);
}

SketchFabDialog::~SketchFabDialog()
{
    // The uploader outlives this destructor's body and aborts its request when
    // it goes: nothing of that may reach the dialog any more.
    disconnect(&m_uploader, nullptr, this, nullptr);
}

void SketchFabDialog::accept()
{
    const QString apiKey = m_form->apiKey->text();
    if (apiKey.isEmpty() || m_form->title->text().isEmpty()) {
        MessageBoxes::showInformation(
            this, QCoreApplication::translate("SketchFabDialog", "Enter API key and a title"),
            QCoreApplication::translate("SketchFabDialog",
                                        "Please enter a valid API key and a title first"));
        return;
    }
    QSettings().setValue(apiKeySetting, apiKey);
    m_uploader.setApiKey(apiKey);

    m_form->progressBar->reset();
    showUploading(true);
    const QString tags = (m_form->tags->text() + QStringLiteral(" korvastel 3Dscan")).trimmed();
    if (!m_uploader.upload(m_form->title->text(), m_form->description->text(), tags,
                           m_form->private_2->isChecked(), m_form->password->text())) {
        showUploading(false);
    }
}

void SketchFabDialog::showApiHelp()
{
    QDialog help(this, Qt::FramelessWindowHint);
    applyTopWidgetStyle(help);
    auto* layout = new QVBoxLayout(&help);

    auto* picture = new QLabel(&help);
    picture->setPixmap(QPixmap(QStringLiteral(":/SketchFabApi.png")));
    layout->addWidget(picture);

    auto* text = new QLabel(&help);
    text->setTextFormat(Qt::RichText);
    text->setOpenExternalLinks(true);
    // Wrapped, and at least as wide as the upload dialog's fields.
    text->setWordWrap(true);
    text->setMinimumWidth(500);
    text->setText(QCoreApplication::translate(
        "SketchFabDialog",
        "Goto <a href=\"https://sketchfab.com\"><span style=\"text-decoration: underline; "
        "color:#00a1d4;\">https://sketchfab.com</span></a> and log in to your account. After "
        "clicking on dashboard in the top navigation, you can find your private API key on the "
        "right hand side"));
    layout->addWidget(text);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &help);
    connect(buttons, &QDialogButtonBox::rejected, &help, &QDialog::reject);
    layout->addWidget(buttons);

    help.exec();
}

void SketchFabDialog::onUploadFailed(QString msg)
{
    // The reason comes from the server: never let it be read as markup.
    MessageBoxes::showCritical(
        this, QCoreApplication::translate("SketchFabDialog", "Upload failed!"),
        QCoreApplication::translate("SketchFabDialog",
                                    "The upload has failed. SketchFab returned error: '%1'")
            .arg(msg),
        Qt::PlainText);
    showUploading(false);
}

void SketchFabDialog::showUploading(bool uploading)
{
    m_form->progressBox->setVisible(uploading);
    m_form->uploadBox->setVisible(!uploading);
    m_form->infoBox->setEnabled(!uploading);
    adjustSize();
}

}  // namespace Veltrane
