// Message boxes and the window settings.

#include "app/MainWindow.h"

#include "app/MessageBoxes.h"

#include <QSettings>

namespace Veltrane {

int MainWindow::showCritical(const QString& title, const QString& text)
{
    return MessageBoxes::showCritical(this, title, text);
}

int MainWindow::showWarning(const QString& title, const QString& text)
{
    return MessageBoxes::showWarning(this, title, text);
}

int MainWindow::showInformation(const QString& title, const QString& text)
{
    return MessageBoxes::showInformation(this, title, text);
}

int MainWindow::askQuestion(const QString& title, const QString& text, const QString& yesText,
                            const QString& noText)
{
    return MessageBoxes::askQuestion(this, title, text, yesText, noText);
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
