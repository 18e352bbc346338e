#include "core/Logging.h"

#include <log4cxx/consoleappender.h>
#include <log4cxx/fileappender.h>
#include <log4cxx/filter/levelrangefilter.h>
#include <log4cxx/logmanager.h>
#include <log4cxx/patternlayout.h>
#include <log4cxx/spi/loggerrepository.h>

#include <fstream>

namespace Veltrane {

namespace {

bool loggingConfigured = false;

constexpr int logFileBufferSize = 1024;

/// Separates this run's lines from the previous run's in an existing file.
void appendRunSeparator(const log4cxx::LogString& path)
{
    if (!std::ifstream(path).good())
        return;
    std::ofstream file(path, std::ios::app);
    if (file)
        file << '\n';
}

log4cxx::AppenderPtr rangeConsoleAppender(const log4cxx::LevelPtr& lowest,
                                          const log4cxx::LevelPtr& highest,
                                          const log4cxx::LogString& pattern)
{
    auto appender = std::make_shared<log4cxx::ConsoleAppender>(
        std::make_shared<log4cxx::PatternLayout>(pattern));
    auto filter = std::make_shared<log4cxx::filter::LevelRangeFilter>();
    filter->setLevelMin(lowest);
    filter->setLevelMax(highest);
    filter->setAcceptOnMatch(true);
    appender->addFilter(filter);
    return appender;
}

}  // namespace

log4cxx::LoggerPtr appLogger()
{
    if (!loggingConfigured)
        configureDefaultLogging();
    static const log4cxx::LoggerPtr root = log4cxx::Logger::getRootLogger();
    return root;
}

void configureLogging(const log4cxx::LogString& pattern, bool logToFile, bool overwrite,
                      const log4cxx::LogString& path)
{
    log4cxx::LogManager::getLoggerRepository()->setConfigured(true);
    const log4cxx::LoggerPtr root = log4cxx::Logger::getRootLogger();
    root->addAppender(std::make_shared<log4cxx::ConsoleAppender>(
        std::make_shared<log4cxx::PatternLayout>(pattern)));

    if (logToFile) {
        if (!overwrite)
            appendRunSeparator(path);
        root->addAppender(std::make_shared<log4cxx::FileAppender>(
            std::make_shared<log4cxx::PatternLayout>(pattern), path, !overwrite,
            /*bufferedIO=*/true, logFileBufferSize));
    }
    loggingConfigured = true;
}

void configureDefaultLogging()
{
    using log4cxx::Level;
    log4cxx::LogManager::getLoggerRepository()->setConfigured(true);
    const log4cxx::LoggerPtr root = log4cxx::Logger::getRootLogger();
    root->addAppender(rangeConsoleAppender(Level::getTrace(), Level::getInfo(), "%m%n"));
    root->addAppender(rangeConsoleAppender(Level::getWarn(), Level::getWarn(), "WARNING: %m%n"));
    root->addAppender(rangeConsoleAppender(Level::getError(), Level::getError(), "ERROR: %m%n"));
    root->addAppender(rangeConsoleAppender(Level::getFatal(), Level::getFatal(), "FATAL: %m%n"));
    loggingConfigured = true;
}

void shutdownLogging()
{
    log4cxx::LogManager::shutdown();
}

}  // namespace Veltrane
