#pragma once

#include "core/Logging.h"

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/spi/loggingevent.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Veltrane {

/// One message of the application logger.
struct LogLine {
    std::string level;  ///< "INFO", "WARN", "ERROR", ...
    std::string message;
};

/// Collects what the application logger receives, from any thread, while it
/// exists.
class LogCapture {
public:
    LogCapture() : m_appender(std::make_shared<Appender>()) { appLogger()->addAppender(m_appender); }
    ~LogCapture() { appLogger()->removeAppender(m_appender); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> lines() const { return m_appender->lines(); }

    /// The lines at `level` whose message starts with `prefix`.
    std::vector<LogLine> matching(const std::string& level, const std::string& prefix) const
    {
        std::vector<LogLine> found;
        for (const LogLine& line : lines())
            if (line.level == level && line.message.compare(0, prefix.size(), prefix) == 0)
                found.push_back(line);
        return found;
    }

    /// Some line at `level` contains `text`.
    bool contains(const std::string& level, const std::string& text) const
    {
        for (const LogLine& line : lines())
            if (line.level == level && line.message.find(text) != std::string::npos)
                return true;
        return false;
    }

    /// No line above INFO.
    bool quiet() const
    {
        for (const LogLine& line : lines())
            if (line.level != "INFO" && line.level != "DEBUG" && line.level != "TRACE")
                return false;
        return true;
    }

private:
    class Appender : public log4cxx::AppenderSkeleton {
    public:
        void close() override {}
        bool requiresLayout() const override { return false; }
        std::vector<LogLine> lines() const
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_lines;
        }

    protected:
        void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back({event->getLevel()->toString(), event->getRenderedMessage()});
        }

    private:
        mutable std::mutex m_mutex;
        std::vector<LogLine> m_lines;
    };

    std::shared_ptr<Appender> m_appender;
};

}  // namespace Veltrane
