#include "app/AboutDialog.h"

#include "app/TopWidgetStyle.h"
#include "ui_AboutDialog.h"

namespace Veltrane {

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint), m_form(std::make_unique<Ui::AboutDialog>())
{
    m_form->setupUi(this);
    applyTopWidgetStyle(*this);
    setSizeGripEnabled(false);
    setFixedSize(sizeHint());
}

AboutDialog::~AboutDialog() = default;

}  // namespace Veltrane
