#include "app/AboutDialog.h"
#include "testsupport/Screenshots.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace Veltrane {
namespace {

TEST(AboutDialog, OpensAtItsSizeHintAndCannotBeResized)
{
    AboutDialog dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    EXPECT_EQ(dialog.size(), dialog.sizeHint());
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_FALSE(dialog.isSizeGripEnabled());
    dialog.resize(dialog.width() + 100, dialog.height() + 50);
    EXPECT_EQ(dialog.size(), dialog.sizeHint());

    EXPECT_EQ(dialog.objectName(), "topWidget");
    EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(dialog.windowTitle(), "About Korvastel");
    const auto* name = dialog.findChild<QLabel*>("label_2");
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(name->text().contains("Korvastel 1.1.0"));
    EXPECT_TRUE(saveScreenshot(dialog, "about-dialog"));
}

TEST(AboutDialog, EnterActivatesOkAndEscapeCloses)
{
    struct Case {
        Qt::Key key;
        int result;
    };
    for (const Case& c : {Case{Qt::Key_Return, QDialog::Accepted},
                          Case{Qt::Key_Enter, QDialog::Accepted},
                          Case{Qt::Key_Escape, QDialog::Rejected}}) {
        SCOPED_TRACE(c.key);
        AboutDialog dialog;
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        dialog.setResult(-1);
        QTest::keyClick(&dialog, c.key);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), c.result);
    }
}

}  // namespace
}  // namespace Veltrane
