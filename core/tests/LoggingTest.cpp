#include "core/Logging.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace Veltrane {
namespace {

/// Runs `scenario` in a child process, whose logging set-up starts from
/// scratch, and returns what it printed on standard output.
std::string consoleOutputOf(const std::function<void()>& scenario)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe failed";
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        scenario();
        shutdownLogging();
        std::fflush(stdout);
        _exit(0);
    }
    close(fds[1]);
    std::string output;
    char buffer[512];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return output;
}

std::string contentsOf(const std::string& path)
{
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(Logging, FallBackPrefixesEachLevelOnce)
{
    const std::string output = consoleOutputOf([] {
        VELTRANE_INFO("plain " << 42);
        VELTRANE_WARN("careful");
        VELTRANE_ERROR("broken");
        VELTRANE_LOG(log4cxx::Level::getFatal(), "gone");
        VELTRANE_LOG(log4cxx::Level::getDebug(), "detail");
    });
    EXPECT_EQ(output, "plain 42\nWARNING: careful\nERROR: broken\nFATAL: gone\ndetail\n");
}

TEST(Logging, StartUpSetUpAfterTheFallBackPrintsTwice)
{
    const std::string output = consoleOutputOf([] {
        VELTRANE_INFO("first");
        configureLogging("[%p] %m%n", false, false, "unused.log");
        VELTRANE_WARN("second");
    });
    EXPECT_EQ(output, "first\nWARNING: second\n[WARN] second\n");
}

class LogFile : public ::testing::Test {
protected:
    std::string path() const { return m_dir.filePath("Korvastel.log").toStdString(); }
    void write(const std::string& text) const { std::ofstream(path()) << text; }
    void runOnce(bool logToFile, bool overwrite) const
    {
        const std::string file = path();
        consoleOutputOf([&] {
            configureLogging("%-5p - %m%n", logToFile, overwrite, file);
            VELTRANE_INFO("hello");
            VELTRANE_ERROR("bad");
        });
    }

private:
    QTemporaryDir m_dir;
};

TEST_F(LogFile, IsNotWrittenWhenFileLoggingIsOff)
{
    runOnce(false, false);
    EXPECT_FALSE(std::ifstream(path()).good());
}

TEST_F(LogFile, NewFileStartsWithTheFirstMessage)
{
    runOnce(true, false);
    EXPECT_EQ(contentsOf(path()), "INFO  - hello\nERROR - bad\n");
}

TEST_F(LogFile, ExistingFileGetsABlankLineBetweenRuns)
{
    write("old run\n");
    runOnce(true, false);
    EXPECT_EQ(contentsOf(path()), "old run\n\nINFO  - hello\nERROR - bad\n");
}

TEST_F(LogFile, OverwriteTruncatesWithoutBlankLine)
{
    write("old run\n");
    runOnce(true, true);
    EXPECT_EQ(contentsOf(path()), "INFO  - hello\nERROR - bad\n");
}

}  // namespace
}  // namespace Veltrane
