#pragma once

#include <memory>
#include <string>
#include <vector>

namespace Veltrane {

/// Collects what is logged to the application logger, from any thread, while
/// it exists, as "LEVEL message" lines (for instance "WARN careful").
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    /// True when one of the lines is `line`.
    bool contains(const std::string& line) const;
    /// Lines that start with `prefix`.
    std::size_t countStartingWith(const std::string& prefix) const;
    void clear();

private:
    class Appender;
    std::shared_ptr<Appender> m_appender;
};

}  // namespace Veltrane
