#include "app/CropMeshWidget.h"

#include "ui_CropMeshWidget.h"

namespace Veltrane {

CropMeshWidget::CropMeshWidget(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui_CropMeshWidget>())
{
    ui->setupUi(this);
    connect(ui->pushButtonCrop, SIGNAL(clicked()), this, SIGNAL(apply()));
    connect(ui->translateButton, SIGNAL(clicked()), this, SLOT(onTranslateClicked()));
    connect(ui->rotateButton, SIGNAL(clicked()), this, SLOT(onRotateClicked()));
    connect(ui->scaleButton, SIGNAL(clicked()), this, SLOT(onScaleClicked()));
}

CropMeshWidget::~CropMeshWidget() = default;

void CropMeshWidget::onTranslateClicked()
{
    emit modeChanged(1);
}

void CropMeshWidget::onRotateClicked()
{
    emit modeChanged(2);
}

void CropMeshWidget::onScaleClicked()
{
    emit modeChanged(3);
}

}  // namespace Veltrane
