#pragma once

#include <QWidget>

#include <memory>

class Ui_SmoothMeshWidget;

namespace Veltrane {

/// Controls of the smooth tool: the number of smoothing iterations (1 to 100,
/// 30 at first) and the Smooth button.
class SmoothMeshWidget : public QWidget {
    Q_OBJECT
public:
    explicit SmoothMeshWidget(QWidget* parent = nullptr);
    ~SmoothMeshWidget() override;

    /// The form, whose widgets the main window reads.
    const std::unique_ptr<Ui_SmoothMeshWidget> ui;

signals:
    /// The user asked for the smoothing.
    void apply();
    /// Part of every tool panel's interface; this panel never emits it.
    void cancel();
};

}  // namespace Veltrane
