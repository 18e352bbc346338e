#include "LogCapture.h"

#include "core/Logging.h"

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/spi/loggingevent.h>

#include <mutex>

namespace Veltrane {

// The log4cxx object macros name these unqualified.
namespace helpers = log4cxx::helpers;
using log4cxx::AppenderSkeleton;

class LogCaptureAppender : public log4cxx::AppenderSkeleton {
public:
    DECLARE_LOG4CXX_OBJECT(LogCaptureAppender)
    BEGIN_LOG4CXX_CAST_MAP()
    LOG4CXX_CAST_ENTRY(LogCaptureAppender)
    LOG4CXX_CAST_ENTRY_CHAIN(AppenderSkeleton)
    END_LOG4CXX_CAST_MAP()

    void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        entries.push_back({event->getLevel()->toString(), event->getMessage()});
    }
    void close() override {}
    bool requiresLayout() const override { return false; }

    mutable std::mutex mutex;
    std::vector<LogCapture::Entry> entries;
};

IMPLEMENT_LOG4CXX_OBJECT(LogCaptureAppender)

LogCapture::LogCapture() : m_appender(std::make_shared<LogCaptureAppender>())
{
    appLogger()->addAppender(m_appender);
}

LogCapture::~LogCapture() { appLogger()->removeAppender(m_appender); }

std::vector<LogCapture::Entry> LogCapture::entries() const
{
    std::lock_guard<std::mutex> lock(m_appender->mutex);
    return m_appender->entries;
}

bool LogCapture::contains(const std::string& level, const std::string& text) const
{
    for (const Entry& entry : entries())
        if (entry.level == level && entry.message.find(text) != std::string::npos)
            return true;
    return false;
}

bool LogCapture::quiet() const
{
    for (const Entry& entry : entries())
        if (entry.level != "INFO" && entry.level != "DEBUG" && entry.level != "TRACE")
            return false;
    return true;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(m_appender->mutex);
    m_appender->entries.clear();
}

}  // namespace Veltrane
