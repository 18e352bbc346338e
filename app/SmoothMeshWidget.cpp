#include "app/SmoothMeshWidget.h"

#include "ui_SmoothMeshWidget.h"

namespace Veltrane {

SmoothMeshWidget::SmoothMeshWidget(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui_SmoothMeshWidget>())
{
    ui->setupUi(this);
    connect(ui->pushButtonSmooth, SIGNAL(clicked()), this, SIGNAL(apply()));
}

SmoothMeshWidget::~SmoothMeshWidget() = default;

}  // namespace Veltrane
