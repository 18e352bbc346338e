#pragma once

#include <memory>
#include <string>
#include <vector>

namespace Veltrane {

class LogCaptureAppender;

/// Collects what is logged through the application logger while it lives.
class LogCapture {
public:
    struct Entry {
        std::string level;  ///< "INFO", "WARN", "ERROR", ...
        std::string message;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Entry> entries() const;
    /// Some message of `level` contains `text`.
    bool contains(const std::string& level, const std::string& text) const;
    /// Nothing at WARN or above.
    bool quiet() const;
    void clear();

private:
    std::shared_ptr<LogCaptureAppender> m_appender;
};

}  // namespace Veltrane
