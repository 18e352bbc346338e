#include "app/DecimateMeshWidget.h"

#include "ui_DecimateMeshWidget.h"

namespace Veltrane {

DecimateMeshWidget::DecimateMeshWidget(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui_DecimateMeshWidget>())
{
    ui->setupUi(this);
    connect(ui->pushButtonDecimate, SIGNAL(clicked()), this, SIGNAL(apply()));
}

DecimateMeshWidget::~DecimateMeshWidget() = default;

void DecimateMeshWidget::triangleCountChanged()
{
    const int maximum = ui->sliderTriangles->maximum();
    const int percent = maximum > 0
                            ? static_cast<int>(ui->sliderTriangles->value() * 100.0 / maximum + 0.5)
                            : 0;
    ui->labelPercent->setText(QStringLiteral("%1 %").arg(percent));
}

}  // namespace Veltrane
