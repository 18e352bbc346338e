#include "AppTestSupport.h"

#include "app/FileDialog.h"
#include "app/ProgressDialog.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

namespace Veltrane {
namespace {

TEST(ProgressDialog, ProcessesEventsOnlyAfterAPauseOfFiftyMilliseconds)
{
    auto* dialog = new QProgressDialog;
    ProgressDialog progress(dialog);
    int delivered = 0;
    auto post = [&] { QMetaObject::invokeMethod(qApp, [&] { ++delivered; }, Qt::QueuedConnection); };

    // A stream of quick reports, however long, processes nothing.
    post();
    for (int value = 0; value < 20; ++value)
        progress.setProgress(value, 100);
    EXPECT_EQ(delivered, 0);

    QElapsedTimer gap;
    gap.start();
    QThread::msleep(10);
    progress.setProgress(20, 100);
    if (gap.elapsed() < ProgressDialog::eventInterval) {  // a busy machine may sleep longer
        EXPECT_EQ(delivered, 0) << "10 ms after the previous report";
    }

    QThread::msleep(60);
    progress.setProgress(21, 100);
    EXPECT_EQ(delivered, 1) << "60 ms after the previous report";

    post();
    progress.setProgress(22, 100);
    EXPECT_EQ(delivered, 1) << "the pause is measured from the previous report";
    QCoreApplication::processEvents();
}

TEST(ProgressDialog, ShowsTheReportedValueAndMaximumAndTellsOfACancel)
{
    auto* dialog = new QProgressDialog;
    dialog->setRange(0, 100);
    ProgressDialog progress(dialog);

    EXPECT_FALSE(progress.setProgress(5, 100));
    EXPECT_EQ(dialog->value(), 5);
    EXPECT_FALSE(progress.setProgress(7, 400));
    EXPECT_EQ(dialog->maximum(), 400);
    EXPECT_EQ(dialog->value(), 7);

    dialog->cancel();
    EXPECT_TRUE(progress.setProgress(8, 400));
}

TEST(FileDialog, StartsInTheRememberedFolderAndRemembersTheChosenFilesFolder)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(QDir(folder.path()).mkpath("inner"));
    const QString key = "testFolder";
    QSettings().remove(key);
    const QString filter = "Text (*.txt);;Pictures (*.png)";

    FileDialogAnswers answers({{folder.filePath("inner/picture.png"), "Pictures (*.png)"},
                               {"", ""},
                               {folder.filePath("notes.txt"), ""}});
    QString picked;
    EXPECT_EQ(chooseFileName(key, "Save", filter, true, &picked, nullptr),
              folder.filePath("inner/picture.png"));
    EXPECT_EQ(picked, "Pictures (*.png)");
    EXPECT_EQ(QSettings().value(key).toString(), folder.filePath("inner")) << "the folder, not the file";

    EXPECT_EQ(chooseFileName(key, "Save", filter, true, &picked, nullptr), QString()) << "cancelled";
    EXPECT_EQ(QSettings().value(key).toString(), folder.filePath("inner")) << "kept after a cancel";

    picked.clear();
    EXPECT_EQ(chooseFileName(key, "Save", filter, true, &picked, nullptr), folder.filePath("notes.txt"));
    EXPECT_EQ(picked, "Text (*.txt)") << "the first entry unless the user picks another";
    EXPECT_EQ(QSettings().value(key).toString(), folder.path());

    EXPECT_EQ(answers.openedIn(),
              (QStringList{QDir::currentPath(), folder.filePath("inner"), folder.filePath("inner")}));
}

TEST(FileDialog, NativePathIsTheFileNamesUtf8UpToAZeroCharacter)
{
    struct Case {
        QString name;
        std::string path;
    };
    const Case cases[] = {
        {"", ""},
        {"/tmp/scan.ply", "/tmp/scan.ply"},
        {QString("/tmp/a") + QChar(0) + "b.ply", "/tmp/a"},
        {QString::fromUtf8("/tmp/Büste 網格 🙂.ply"), "/tmp/B\xc3\xbcste \xe7\xb6\xb2\xe6\xa0\xbc \xf0\x9f\x99\x82.ply"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(toNativePath(c.name), c.path) << c.name.toStdString();
}

}  // namespace
}  // namespace Veltrane
