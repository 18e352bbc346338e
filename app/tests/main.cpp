#include "app/Startup.h"
#include "testsupport/LoadedLibraries.h"
#include "testsupport/OpenNI2Drivers.h"

#include <QApplication>
#include <QNetworkProxy>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The windows and dialogs need a QApplication, styled as the program styles
// it. Every test process keeps the settings of both scopes in a folder of its
// own, and reaches the local test service without a proxy.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The main window starts the real OpenNI 2, which finds no camera here.
    Veltrane::pinOpenNI2Drivers();

    QApplication application(argc, argv);
    QApplication::setOrganizationName(Veltrane::StartupNames::organisation);
    QApplication::setApplicationName(Veltrane::StartupNames::application);
    Veltrane::applyStyleSheet(application);

    QTemporaryDir settingsFolder;
    if (!settingsFolder.isValid()) {
        return 1;
    }
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, settingsFolder.filePath("user"));
        QSettings::setPath(format, QSettings::SystemScope, settingsFolder.filePath("system"));
    }
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);

    const int result = RUN_ALL_TESTS();
    Veltrane::pinLoadedLibraries();
    return result;
}
