#include "testsupport/LogCapture.h"

#include "core/Logging.h"

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/spi/loggingevent.h>

#include <algorithm>
#include <mutex>

namespace Veltrane {

namespace {

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

class LogCapture::Appender : public log4cxx::AppenderSkeleton {
public:
    void close() override {}
    bool requiresLayout() const override { return false; }

    std::vector<LogLine> entries() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }

    void clear()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.clear();
    }

protected:
    void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back({event->getLevel()->toString(), event->getRenderedMessage()});
    }

private:
    mutable std::mutex m_mutex;
    std::vector<LogLine> m_entries;
};

LogCapture::LogCapture() : m_appender(std::make_shared<Appender>())
{
    appLogger()->addAppender(m_appender);
}

LogCapture::~LogCapture()
{
    appLogger()->removeAppender(m_appender);
}

std::vector<LogLine> LogCapture::entries() const
{
    return m_appender->entries();
}

std::vector<std::string> LogCapture::lines() const
{
    std::vector<std::string> lines;
    for (const LogLine& entry : entries())
        lines.push_back(entry.level + " " + entry.message);
    return lines;
}

bool LogCapture::contains(const std::string& line) const
{
    const std::vector<std::string> all = lines();
    return std::find(all.begin(), all.end(), line) != all.end();
}

std::size_t LogCapture::countStartingWith(const std::string& prefix) const
{
    const std::vector<std::string> all = lines();
    return static_cast<std::size_t>(
        std::count_if(all.begin(), all.end(), [&](const std::string& line) { return startsWith(line, prefix); }));
}

std::vector<LogLine> LogCapture::matching(const std::string& level, const std::string& prefix) const
{
    std::vector<LogLine> found;
    for (const LogLine& entry : entries())
        if (entry.level == level && startsWith(entry.message, prefix))
            found.push_back(entry);
    return found;
}

bool LogCapture::mentions(const std::string& level, const std::string& text) const
{
    const std::vector<LogLine> all = entries();
    return std::any_of(all.begin(), all.end(), [&](const LogLine& entry) {
        return entry.level == level && entry.message.find(text) != std::string::npos;
    });
}

bool LogCapture::quiet() const
{
    const std::vector<LogLine> all = entries();
    return std::all_of(all.begin(), all.end(), [](const LogLine& entry) {
        return entry.level == "INFO" || entry.level == "DEBUG" || entry.level == "TRACE";
    });
}

void LogCapture::clear()
{
    m_appender->clear();
}

}  // namespace Veltrane
