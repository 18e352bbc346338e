// Tests of the application run with a QApplication styled like the program,
// and with the settings of both scopes in a temporary folder of their own.

#include "app/Startup.h"
#include "testsupport/OpenNI2Drivers.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The windows start the real OpenNI 2, which finds no camera here.
    Veltrane::pinOpenNI2Drivers();

    const QTemporaryDir settings;
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, settings.filePath("user"));
        QSettings::setPath(format, QSettings::SystemScope, settings.filePath("system"));
    }

    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(Veltrane::StartupNames::organisation);
    QCoreApplication::setApplicationName(Veltrane::StartupNames::application);
    Veltrane::applyStyleSheet(application);
    return RUN_ALL_TESTS();
}
