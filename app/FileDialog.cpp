#include "app/FileDialog.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

namespace Veltrane {

QString chooseFileName(const QString& key, const QString& caption, const QString& filter, bool save,
                       QString* selectedFilter, QWidget* parent)
{
    QSettings settings;
    const QString folder = settings.value(key, QDir::currentPath()).toString();
    const QString chosen =
        save ? QFileDialog::getSaveFileName(parent, caption, folder, filter, selectedFilter)
             : QFileDialog::getOpenFileName(parent, caption, folder, filter, selectedFilter);
    if (!chosen.isEmpty())
        settings.setValue(key, QFileInfo(chosen).absoluteDir().absolutePath());
    return chosen;
}

std::string toNativePath(const QString& fileName)
{
    const int zero = fileName.indexOf(QChar(0));
    return QFile::encodeName(zero < 0 ? fileName : fileName.left(zero)).toStdString();
}

}  // namespace Veltrane
