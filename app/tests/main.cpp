#include <QApplication>
#include <QNetworkProxy>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The dialogs need a QApplication; every test process keeps its user settings
// in a folder of its own, and reaches the local test service without a proxy.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Veltrane"));
    QApplication::setApplicationName(QStringLiteral("Korvastel"));

    QTemporaryDir settingsFolder;
    if (!settingsFolder.isValid()) {
        return 1;
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);

    return RUN_ALL_TESTS();
}
