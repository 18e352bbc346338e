#include "app/MessageBoxes.h"

#include <QAbstractButton>

#include <gtest/gtest.h>

namespace Veltrane {
namespace {

TEST(MessageBoxes, BuildsAFramelessFixedStyledBoxWithOneOkButton)
{
    struct Case {
        int (*show)(QWidget*, const QString&, const QString&, Qt::TextFormat);
        QMessageBox::Icon icon;
        Qt::TextFormat format;
    };
    const Case cases[] = {{&MessageBoxes::showCritical, QMessageBox::Critical, Qt::PlainText},
                          {&MessageBoxes::showInformation, QMessageBox::Information, Qt::AutoText},
                          {&MessageBoxes::showWarning, QMessageBox::Warning, Qt::AutoText}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.icon);
        bool ran = false;
        const MessageBoxes::Runner previous = MessageBoxes::setRunner([&](QMessageBox& box) {
            ran = true;
            EXPECT_EQ(box.icon(), c.icon);
            EXPECT_EQ(box.windowTitle(), "Title");
            EXPECT_EQ(box.text(), "<b>text</b>");
            EXPECT_EQ(box.textFormat(), c.format);
            EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
            EXPECT_EQ(box.windowFlags(), Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint |
                                             Qt::FramelessWindowHint);
            EXPECT_EQ(box.objectName(), "topWidget");
            EXPECT_EQ(box.styleSheet(), "QWidget#topWidget { border:2px solid white; }");
            return 42;
        });
        EXPECT_EQ(c.show(nullptr, "Title", "<b>text</b>", c.format), 42);
        EXPECT_TRUE(ran);
        MessageBoxes::setRunner(previous);
    }
}

TEST(MessageBoxes, AsksWithYesAndNoCaptionedByTheCaller)
{
    struct Case {
        QString yesText, noText;
        QStringList captions;
    };
    const Case cases[] = {{"Keep", "Drop", {"Keep", "Drop"}},
                          {"", "", {"&Yes", "&No"}},
                          {"Save", "", {"Save", "&No"}}};
    for (const Case& c : cases) {
        QStringList captions;
        const MessageBoxes::Runner previous = MessageBoxes::setRunner([&](QMessageBox& box) {
            EXPECT_EQ(box.icon(), QMessageBox::Question);
            EXPECT_EQ(box.standardButtons(), QMessageBox::Yes | QMessageBox::No);
            EXPECT_EQ(box.objectName(), "topWidget");
            captions = QStringList{box.button(QMessageBox::Yes)->text(),
                                   box.button(QMessageBox::No)->text()};
            return int(QMessageBox::No);
        });
        EXPECT_EQ(MessageBoxes::askQuestion(nullptr, "T", "x", c.yesText, c.noText), QMessageBox::No);
        EXPECT_EQ(captions, c.captions);
        MessageBoxes::setRunner(previous);
    }
}

}  // namespace
}  // namespace Veltrane
