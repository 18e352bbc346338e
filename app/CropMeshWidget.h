#pragma once

#include <QWidget>

#include <memory>

class Ui_CropMeshWidget;

namespace Veltrane {

/// Controls of the crop tool: three exclusive buttons that choose what the
/// on-screen handles do to the crop box (Translate, checked at first, Rotate,
/// Scale), and the Crop button. The main window moves the handles and crops.
class CropMeshWidget : public QWidget {
    Q_OBJECT
public:
    explicit CropMeshWidget(QWidget* parent = nullptr);
    ~CropMeshWidget() override;

    /// The form, whose widgets the main window sets and reads.
    const std::unique_ptr<Ui_CropMeshWidget> ui;

signals:
    /// The user asked for the crop.
    void apply();
    /// Part of every tool panel's interface; this panel never emits it.
    void cancel();
    /// The user chose a handle mode: 1 translate, 2 rotate, 3 scale.
    void modeChanged(int mode);

private slots:
    void onTranslateClicked();
    void onRotateClicked();
    void onScaleClicked();
};

}  // namespace Veltrane
