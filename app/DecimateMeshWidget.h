#pragma once

#include <QWidget>

#include <memory>

class Ui_DecimateMeshWidget;

namespace Veltrane {

/// Controls of the decimate tool: the number of triangles to keep, as a spin
/// box and a slider that follow each other, the share of the current count
/// that it keeps, and the Decimate button. The main window sets the range to
/// the mesh's face count when the tool opens and reads the target on apply.
class DecimateMeshWidget : public QWidget {
    Q_OBJECT
public:
    explicit DecimateMeshWidget(QWidget* parent = nullptr);
    ~DecimateMeshWidget() override;

    /// The form, whose widgets the main window sets and reads.
    const std::unique_ptr<Ui_DecimateMeshWidget> ui;

public slots:
    /// Shows the slider's value as a whole percentage of its maximum, rounded
    /// half up ("33 %").
    void triangleCountChanged();

signals:
    /// The user asked for the decimation.
    void apply();
    /// Part of every tool panel's interface; this panel never emits it.
    void cancel();
};

}  // namespace Veltrane
