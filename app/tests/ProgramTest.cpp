// The Korvastel program itself, started as a user would start it.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace Veltrane {
namespace {

/// A Korvastel process with its own runtime, data and settings folders.
class ProgramRun {
public:
    explicit ProgramRun(const QTemporaryDir& home, const QString& dataHome = QString())
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // As a user starts it: the program chooses its OpenMP wait policy and
        // starts again with it.
        environment.remove("OMP_WAIT_POLICY");
        environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
        environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
        environment.insert("XDG_DATA_HOME", dataHome.isEmpty() ? home.filePath("data") : dataHome);
        // The runtime folder is the user's alone, or Qt refuses it.
        QDir().mkpath(home.filePath("runtime"));
        QFile::setPermissions(home.filePath("runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(home.filePath("work"));
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(home.filePath("work"));
        m_process.start(KORVASTEL_PROGRAM, QStringList());
    }

    ~ProgramRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    QProcess& process() { return m_process; }

    /// The environment the running program has, as its system shows it.
    QStringList environment() const
    {
        QFile file(QString("/proc/%1/environ").arg(m_process.processId()));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList variables;
        for (const QByteArray& variable : file.readAll().split('\0'))
            variables << QString::fromLocal8Bit(variable);
        return variables;
    }

    /// Reads the console until `text` appears or `timeoutMs` have passed.
    bool waitForOutput(const QString& text, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (!m_output.contains(text) && clock.elapsed() < timeoutMs) {
            m_process.waitForReadyRead(100);
            m_output += QString::fromLocal8Bit(m_process.readAllStandardOutput());
            m_output += QString::fromLocal8Bit(m_process.readAllStandardError());
        }
        return m_output.contains(text);
    }

private:
    QProcess m_process;
    QString m_output;
};

bool waitForFile(const QString& path, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!QFileInfo::exists(path)) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

TEST(Program, ASecondStartShowsTheRunningWindowAndEndsAtOnce)
{
    QTemporaryDir home;
    ProgramRun first(home);
    ASSERT_TRUE(waitForFile(home.filePath("runtime/VeltraneKorvastelMutex.socket"), 60000))
        << "the first copy never started listening";
    EXPECT_TRUE(first.environment().contains("OMP_WAIT_POLICY=passive"))
        << "the program runs on after starting again with idle threads asleep";

    QProcess second;
    second.setProcessEnvironment(first.process().processEnvironment());
    second.setWorkingDirectory(home.filePath("work"));
    second.start(KORVASTEL_PROGRAM, QStringList());
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty()) << "the second copy logged";

    EXPECT_TRUE(first.waitForOutput("Another start of the program asked for the window", 20000));
    EXPECT_EQ(first.process().state(), QProcess::Running);

    const QString log = home.filePath("data/Veltrane/Korvastel/Korvastel.log");
    EXPECT_TRUE(QFileInfo::exists(log));
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.readAll().startsWith('\n')) << "the second copy began a run in the log";
}

TEST(Program, WithoutADataFolderLogsToTheConsoleOnly)
{
    QTemporaryDir home;
    QFile blocker(home.filePath("not-a-folder"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    ProgramRun run(home, home.filePath("not-a-folder/data"));
    ASSERT_TRUE(run.waitForOutput("No GPU OpenCL device", 60000))
        << "the program logged nothing to the console";
    EXPECT_FALSE(QFileInfo::exists(home.filePath("work/log.log")));
}

}  // namespace
}  // namespace Veltrane
