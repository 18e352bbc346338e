#include "app/Startup.h"

#include "core/Logging.h"
#include "platform/AppDataFolder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTranslator>
#include <QWidget>

namespace Veltrane {

void configureStartupLogging()
{
    const log4cxx::LogString pattern = "%d %-5p - %m%n";
    const QString dataFolder = roamingAppDataFolder();
    const QString logFolder = QDir(dataFolder).filePath("Veltrane/Korvastel");
    if (dataFolder.isEmpty() || !QDir().mkpath(logFolder)) {
        configureLogging(pattern, false, false, "log.log");
        return;
    }
    configureLogging(pattern, true, false,
                     QDir(logFolder).filePath("Korvastel.log").toStdString());
}

QString machineLanguage()
{
    const QSettings settings(QSettings::SystemScope, StartupNames::organisation,
                             StartupNames::application);
    return settings.value("language").toString();
}

bool installTranslation(QTranslator& translator, const QString& language)
{
    if (language != StartupNames::german || !translator.load(":/German.qm"))
        return false;
    if (!QCoreApplication::installTranslator(&translator)) {
        VELTRANE_ERROR("Could not load translation");
        return false;
    }
    return true;
}

void applyStyleSheet(QApplication& application)
{
    QFile styleSheet(":/Design.qss");
    if (styleSheet.open(QIODevice::ReadOnly))
        application.setStyleSheet(QString::fromUtf8(styleSheet.readAll()));
}

void bringToFront(QWidget& window)
{
    VELTRANE_INFO("Another start of the program asked for the window");
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace Veltrane
