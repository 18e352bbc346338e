#include "platform/SingleInstance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

namespace Veltrane {
namespace {

const QString name = "KorvastelTestLock";

TEST(SingleInstance, OnlyTheFirstHolderGetsTheLockUntilItEnds)
{
    QTemporaryDir runtime;
    auto first = std::make_unique<SingleInstance>(name, runtime.path());
    SingleInstance second(name, runtime.path());

    EXPECT_TRUE(first->acquire());
    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(first->acquire()) << "holding the lock twice is harmless";

    first.reset();
    EXPECT_TRUE(second.acquire()) << "the lock ends with its holder";
}

TEST(SingleInstance, AMissingFolderIsMadeAndALockFileLeftBehindIsNoLock)
{
    QTemporaryDir runtime;
    const QString folder = runtime.filePath("not/there/yet");
    {
        SingleInstance earlier(name, folder);
        ASSERT_TRUE(earlier.acquire());
        EXPECT_TRUE(QFileInfo::exists(earlier.lockFilePath()));
    }
    SingleInstance later(name, folder);
    EXPECT_TRUE(later.acquire());
}

TEST(SingleInstance, ALaterCopyReachesTheHolderOnlyWhileItListens)
{
    int argc = 1;
    char program[] = "platform_tests";
    char* argv[] = {program, nullptr};
    QCoreApplication application(argc, argv);

    QTemporaryDir runtime;
    SingleInstance holder(name, runtime.path());
    SingleInstance later(name, runtime.path());
    ASSERT_TRUE(holder.acquire());
    EXPECT_FALSE(later.activateRunning(200)) << "the holder is still starting";
    EXPECT_FALSE(later.listen([] {})) << "only the holder listens";

    int activations = 0;
    ASSERT_TRUE(holder.listen([&activations] { ++activations; }));
    EXPECT_TRUE(later.activateRunning());

    QElapsedTimer clock;
    clock.start();
    while (activations == 0 && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(activations, 1);
}

}  // namespace
}  // namespace Veltrane
