#include "platform/AppDataFolder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>

namespace Veltrane {
namespace {

TEST(AppDataFolder, IsCreatedUnderTheUsersDataHome)
{
    QTemporaryDir home;
    const QString dataHome = home.filePath("data-home");
    ASSERT_EQ(setenv("XDG_DATA_HOME", dataHome.toLocal8Bit().constData(), 1), 0);

    const QString folder = roamingAppDataFolder();
    EXPECT_EQ(QDir(folder).absolutePath(), QDir(dataHome).absolutePath());
    EXPECT_TRUE(QDir(folder).exists());
}

}  // namespace
}  // namespace Veltrane
