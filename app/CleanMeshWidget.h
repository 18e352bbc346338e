#pragma once

#include <QWidget>

#include <memory>

class Ui_CleanMeshWidget;

namespace Veltrane {

/// Controls of the clean tool, which removes the pieces of a mesh whose area
/// lies outside a range: a slider for the lower and one for the upper end of
/// the range, each beside the area it stands for, and the Clean button.
///
/// The sliders choose indexes into the sorted list of piece areas that the
/// main window gives them when the tool opens; the lower one never passes the
/// upper one. The panel computes nothing itself: the main window sets the
/// ranges and labels, reads the sliders and answers the signals.
class CleanMeshWidget : public QWidget {
    Q_OBJECT
public:
    explicit CleanMeshWidget(QWidget* parent = nullptr);
    ~CleanMeshWidget() override;

    /// Shows `area`, in square millimetres, beside the lower slider: in m²
    /// above 1,000,000, in cm² above 100, in mm² otherwise, with two decimals.
    void setMinAreaLabel(double area);
    /// The same beside the upper slider.
    void setMaxAreaLabel(double area);

    /// The form, whose widgets the main window sets and reads.
    const std::unique_ptr<Ui_CleanMeshWidget> ui;

signals:
    /// The user asked for the clean.
    void apply();
    /// Part of every tool panel's interface; this panel never emits it.
    void cancel();
    /// The lower slider's value, after it was kept at or below the upper one.
    void minChanged(int min);
    /// The upper slider's value, after it was kept at or above the lower one.
    void maxChanged(int max);

private slots:
    void onMinValueChanged(int val);
    void onMaxValueChanged(int val);
};

}  // namespace Veltrane
