#include "platform/AppDataFolder.h"

#include <QDir>
#include <QStandardPaths>

namespace Veltrane {

QString roamingAppDataFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return QString();
    return folder;
}

}  // namespace Veltrane
