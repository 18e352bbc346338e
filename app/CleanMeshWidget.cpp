#include "app/CleanMeshWidget.h"

#include "ui_CleanMeshWidget.h"

namespace Veltrane {

namespace {

/// `area` (mm²) in the largest unit it exceeds: "2.50 cm²", "37.00 mm²".
QString areaText(double area)
{
    if (area > 1000000.0)
        return QStringLiteral("%1 %2").arg(area / 1000000.0, 0, 'f', 2).arg(QStringLiteral("m²"));
    if (area > 100.0)
        return QStringLiteral("%1 %2").arg(area / 100.0, 0, 'f', 2).arg(QStringLiteral("cm²"));
    return QStringLiteral("%1 %2").arg(area, 0, 'f', 2).arg(QStringLiteral("mm²"));
}

}  // namespace

CleanMeshWidget::CleanMeshWidget(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui_CleanMeshWidget>())
{
    ui->setupUi(this);
    connect(ui->pushButtonClean, SIGNAL(clicked()), this, SIGNAL(apply()));
    connect(ui->sliderMin, SIGNAL(valueChanged(int)), this, SLOT(onMinValueChanged(int)));
    connect(ui->sliderMax, SIGNAL(valueChanged(int)), this, SLOT(onMaxValueChanged(int)));
}

CleanMeshWidget::~CleanMeshWidget() = default;

void CleanMeshWidget::setMinAreaLabel(double area)
{
    ui->labelMinArea->setText(areaText(area));
}

void CleanMeshWidget::setMaxAreaLabel(double area)
{
    ui->labelMaxArea->setText(areaText(area));
}

void CleanMeshWidget::onMinValueChanged(int val)
{
    // Setting the slider back runs this slot again with the corrected value.
    if (ui->sliderMax->value() < val)
        ui->sliderMin->setValue(ui->sliderMax->value());
    emit minChanged(ui->sliderMin->value());
}

void CleanMeshWidget::onMaxValueChanged(int val)
{
    if (val < ui->sliderMin->value())
        ui->sliderMax->setValue(ui->sliderMin->value());
    emit maxChanged(ui->sliderMax->value());
}

}  // namespace Veltrane
