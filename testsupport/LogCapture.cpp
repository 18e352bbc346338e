#include "testsupport/LogCapture.h"

#include "core/Logging.h"

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/spi/loggingevent.h>

#include <algorithm>
#include <mutex>

namespace Veltrane {

class LogCapture::Appender : public log4cxx::AppenderSkeleton {
public:
    void close() override {}
    bool requiresLayout() const override { return false; }

    std::vector<std::string> lines() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }

    void clear()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.clear();
    }

protected:
    void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(event->getLevel()->toString() + " " + event->getRenderedMessage());
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

LogCapture::LogCapture() : m_appender(std::make_shared<Appender>())
{
    appLogger()->addAppender(m_appender);
}

LogCapture::~LogCapture()
{
    appLogger()->removeAppender(m_appender);
}

std::vector<std::string> LogCapture::lines() const
{
    return m_appender->lines();
}

bool LogCapture::contains(const std::string& line) const
{
    const std::vector<std::string> all = lines();
    return std::find(all.begin(), all.end(), line) != all.end();
}

std::size_t LogCapture::countStartingWith(const std::string& prefix) const
{
    const std::vector<std::string> all = lines();
    return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), [&](const std::string& line) {
        return line.compare(0, prefix.size(), prefix) == 0;
    }));
}

void LogCapture::clear()
{
    m_appender->clear();
}

}  // namespace Veltrane
