#include "app/CountDownDialog.h"
#include "testsupport/Screenshots.h"

#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace Veltrane {
namespace {

QLabel* number(CountDownDialog& dialog)
{
    return dialog.findChild<QLabel*>("timer");
}

/// Handles events until `spy` has `count` signals; false after `timeoutMs`.
bool waitForSignals(QSignalSpy& spy, int count, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (spy.count() < count && clock.elapsed() < timeoutMs)
        QTest::qWait(5);
    return spy.count() >= count;
}

TEST(CountDownDialog, FormAndDefaults)
{
    CountDownDialog dialog;
    EXPECT_EQ(dialog.objectName(), "CountDownDialog");
    EXPECT_EQ(dialog.windowTitle(), "Dialog");
    EXPECT_EQ(dialog.size(), QSize(400, 300));
    EXPECT_EQ(dialog.labelText(), "Waiting for reconstruction start ...");
    EXPECT_EQ(number(dialog)->text(), "0");
    EXPECT_EQ(dialog.fontSize(), 100);
    EXPECT_EQ(dialog.count(), 0);
    EXPECT_TRUE(dialog.autoClose());
    EXPECT_TRUE(dialog.showZero());
    const auto* buttons = dialog.findChild<QDialogButtonBox*>("buttonBox");
    ASSERT_NE(buttons, nullptr);
    EXPECT_EQ(buttons->standardButtons(), QDialogButtonBox::Cancel);

    dialog.setProperty("labelText", "Get ready");
    dialog.setProperty("fontSize", 40);
    EXPECT_EQ(dialog.labelText(), "Get ready");
    EXPECT_EQ(number(dialog)->font().pointSize(), 40);
}

TEST(CountDownDialog, CountsDownEverySecondAndAcceptsAMomentAfterZero)
{
    CountDownDialog dialog;
    QSignalSpy counts(&dialog, &CountDownDialog::countChanged);
    QSignalSpy timeouts(&dialog, &CountDownDialog::timeout);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QStringList shown;
    QObject::connect(&dialog, &CountDownDialog::countChanged,
                     [&] { shown << number(dialog)->text(); });

    dialog.setCount(2);
    dialog.show();
    dialog.start();
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    // The easing first swells the number a little, then lets it fall away.
    QTest::qWait(750 - int(clock.elapsed()));
    const int shrinking = dialog.fontSize();
    EXPECT_GT(shrinking, 1);
    EXPECT_LT(shrinking, 100) << "the number shrinks during the second";
    EXPECT_TRUE(saveScreenshot(dialog, "CountDownDialog"));

    ASSERT_TRUE(waitForSignals(timeouts, 1, 4000));
    const qint64 zeroAt = clock.elapsed();
    EXPECT_GE(zeroAt, 1900);
    EXPECT_TRUE(dialog.isVisible()) << "the 0 stays a moment";
    EXPECT_EQ(dialog.fontSize(), 100);
    ASSERT_TRUE(waitForSignals(accepted, 1, 2000));
    EXPECT_GE(clock.elapsed() - zeroAt, 150);
    EXPECT_FALSE(dialog.isVisible());

    QTest::qWait(1100);
    EXPECT_EQ(shown, (QStringList{"2", "1", "0"}));
    ASSERT_EQ(counts.count(), 3);
    EXPECT_EQ(counts[2].at(0).toInt(), 0);
    EXPECT_EQ(timeouts.count(), 1);
    EXPECT_EQ(accepted.count(), 1);
}

TEST(CountDownDialog, ZeroWithoutShowingItOrWithoutClosing)
{
    struct Case {
        bool showZero;
        bool autoClose;
    };
    for (const Case c : {Case{false, true}, Case{true, false}}) {
        SCOPED_TRACE(c.showZero ? "without closing" : "without showing zero");
        CountDownDialog dialog;
        dialog.setShowZero(c.showZero);
        dialog.setAutoClose(c.autoClose);
        bool visibleAtZero = false;
        QObject::connect(&dialog, &CountDownDialog::timeout, [&] { visibleAtZero = dialog.isVisible(); });
        QSignalSpy timeouts(&dialog, &CountDownDialog::timeout);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        dialog.setCount(1);
        dialog.show();
        dialog.start();
        ASSERT_TRUE(waitForSignals(timeouts, 1, 3000));
        EXPECT_TRUE(visibleAtZero);
        QTest::qWait(0);
        EXPECT_EQ(accepted.count(), c.autoClose ? 1 : 0) << "accepted in the tick that reached 0";
        EXPECT_EQ(dialog.isVisible(), !c.autoClose);
        QTest::qWait(400);
        EXPECT_EQ(accepted.count(), c.autoClose ? 1 : 0);
        if (!c.autoClose) {
            EXPECT_EQ(number(dialog)->text(), "0");
            EXPECT_LT(dialog.fontSize(), 10) << "as the one animation of the start left it";
        }
    }
}

TEST(CountDownDialog, CancelledCountDownGoesOnUnlessStopped)
{
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped" : "left counting");
        CountDownDialog dialog;
        QSignalSpy canceled(&dialog, &CountDownDialog::canceled);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QObject::connect(&dialog, &CountDownDialog::canceled, [&] {
            if (stopped)
                dialog.stop();
        });
        dialog.setCount(1);
        dialog.show();
        dialog.start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
        EXPECT_EQ(canceled.count(), 1);
        EXPECT_FALSE(dialog.isVisible());
        QTest::qWait(1500);
        EXPECT_EQ(accepted.count(), stopped ? 0 : 1);
    }
}

}  // namespace
}  // namespace Veltrane
