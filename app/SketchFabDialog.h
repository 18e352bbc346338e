#pragma once

#include "app/SketchFabUploader.h"

#include <QDialog>

#include <memory>

namespace Ui {
class SketchFabDialog;
}

namespace Veltrane {

class Mesh;

/// Uploads a mesh to the Sketchfab model hosting service. The user enters the
/// API key of the service (kept in the user's settings under
/// "SketchFab_API_Keys"), a title, an optional description, tags, private flag
/// and password; the dialog shows the size of the upload on its Upload button
/// and, while uploading, a progress bar with an Abort button. It closes itself
/// once the upload has finished or was aborted; a failure is reported with the
/// service's reason and the user can correct the input and try again.
///
/// Run it modally and destroy it afterwards: destroying it aborts an upload
/// that still runs.
class SketchFabDialog : public QDialog {
    Q_OBJECT
public:
    /// Writes `mesh` into memory for upload at once; the mesh is not kept. A
    /// mesh that cannot be written (or none) leaves the Upload button disabled.
    /// The dialog takes the application's top-widget style; pass
    /// Qt::FramelessWindowHint in `flags` for a window without a native frame.
    SketchFabDialog(const Mesh* mesh, QWidget* parent = nullptr, Qt::WindowFlags flags = {});
    ~SketchFabDialog() override;

    /// The uploader that sends the mesh, for choosing the service address.
    SketchFabUploader& uploader() { return m_uploader; }

public slots:
    /// Starts the upload; the dialog stays open. Without an API key or a
    /// title, an information box asks for them and nothing is sent.
    void accept() override;
    /// Tells where the API key is found, in a modal help dialog.
    void showApiHelp();

private slots:
    void onUploadFailed(QString msg);

private:
    /// Input: every field can be edited. Uploading: the fields are disabled and
    /// the progress bar with its Abort button replaces the Upload button.
    void showUploading(bool uploading);

    std::unique_ptr<Ui::SketchFabDialog> m_form;
    SketchFabUploader m_uploader;
};

}  // namespace Veltrane
