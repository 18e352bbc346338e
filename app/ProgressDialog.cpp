#include "app/ProgressDialog.h"

#include <QCoreApplication>
#include <QProgressDialog>

namespace Veltrane {

ProgressDialog::ProgressDialog(QProgressDialog* dialog)
    : m_maximum(dialog->maximum()), m_dialog(dialog), m_stopwatch(true)
{
}

ProgressDialog::~ProgressDialog() = default;

bool ProgressDialog::setProgress(int value, int maximum)
{
    if (maximum != m_maximum) {
        m_dialog->setMaximum(maximum);
        m_maximum = maximum;
    }
    m_dialog->setValue(value);
    if (m_stopwatch.elapsed(true) >= eventInterval)
        QCoreApplication::processEvents();
    return m_dialog->wasCanceled();
}

}  // namespace Veltrane
