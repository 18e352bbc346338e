#pragma once

#include <memory>
#include <string>
#include <vector>

namespace Veltrane {

/// One message of the application logger.
struct LogLine {
    std::string level;  ///< "INFO", "WARN", "ERROR", ...
    std::string message;
};

/// Collects what is logged to the application logger, from any thread, while
/// it exists.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    /// Every message so far, level and message apart.
    std::vector<LogLine> entries() const;
    /// Every message so far as "LEVEL message" (for instance "WARN careful").
    std::vector<std::string> lines() const;
    /// True when one of the lines is `line`.
    bool contains(const std::string& line) const;
    /// Lines that start with `prefix`.
    std::size_t countStartingWith(const std::string& prefix) const;
    /// The messages at `level` that start with `prefix`.
    std::vector<LogLine> matching(const std::string& level, const std::string& prefix) const;
    /// True when some message at `level` contains `text`.
    bool mentions(const std::string& level, const std::string& text) const;
    /// True when nothing above INFO was logged.
    bool quiet() const;
    void clear();

private:
    class Appender;
    std::shared_ptr<Appender> m_appender;
};

}  // namespace Veltrane
