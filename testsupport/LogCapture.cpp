#include "testsupport/LogCapture.h"

#include "core/Logging.h"

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/spi/loggingevent.h>

#include <algorithm>

namespace Veltrane {

class LogCapture::Appender : public log4cxx::AppenderSkeleton {
public:
    std::vector<std::string> lines;

    void close() override {}
    bool requiresLayout() const override { return false; }

protected:
    void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override
    {
        lines.push_back(event->getLevel()->toString() + " " + event->getRenderedMessage());
    }
};

LogCapture::LogCapture() : m_appender(std::make_shared<Appender>())
{
    appLogger()->addAppender(m_appender);
}

LogCapture::~LogCapture()
{
    appLogger()->removeAppender(m_appender);
}

const std::vector<std::string>& LogCapture::lines() const
{
    return m_appender->lines;
}

bool LogCapture::contains(const std::string& line) const
{
    return std::find(lines().begin(), lines().end(), line) != lines().end();
}

std::size_t LogCapture::countStartingWith(const std::string& prefix) const
{
    return static_cast<std::size_t>(
        std::count_if(lines().begin(), lines().end(), [&](const std::string& line) {
            return line.compare(0, prefix.size(), prefix) == 0;
        }));
}

void LogCapture::clear()
{
    m_appender->lines.clear();
}

}  // namespace Veltrane
