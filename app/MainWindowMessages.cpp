// Message boxes and the window settings.

#include "app/MainWindow.h"

#include "app/ModalRunner.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QSettings>

namespace Veltrane {

int MainWindow::showCritical(const QString& title, const QString& text)
{
    return runMessageBox(QMessageBox::Critical, title, text, QMessageBox::Ok);
}

int MainWindow::showWarning(const QString& title, const QString& text)
{
    return runMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok);
}

int MainWindow::showInformation(const QString& title, const QString& text)
{
    return runMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok);
}

int MainWindow::askQuestion(const QString& title, const QString& text, const QString& yesText,
                            const QString& noText)
{
    return runMessageBox(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No,
                         yesText, noText);
}

int MainWindow::runMessageBox(int icon, const QString& title, const QString& text, int buttons,
                              const QString& yesText, const QString& noText)
{
    QMessageBox box(this);
    box.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::FramelessWindowHint);
    box.setText(text);
    box.setWindowTitle(title);
    box.setStandardButtons(QMessageBox::StandardButtons(buttons));
    box.setIcon(static_cast<QMessageBox::Icon>(icon));
    if (QAbstractButton* yes = box.button(QMessageBox::Yes); yes && !yesText.isEmpty())
        yes->setText(yesText);
    if (QAbstractButton* no = box.button(QMessageBox::No); no && !noText.isEmpty())
        no->setText(noText);
    styleAsTopWidget(box);
    return runModal(box);
}

void MainWindow::restoreSettings()
{
    const QSettings settings;
    restoreGeometry(settings.value("geometry").toByteArray());
    restoreState(settings.value("windowState").toByteArray(), 0);
}

void MainWindow::saveSettings()
{
    QSettings settings;
    settings.setValue("geometry", saveGeometry());
    settings.setValue("windowState", saveState(0));
}

}  // namespace Veltrane
