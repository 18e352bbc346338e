#pragma once

#include <log4cxx/logger.h>

#include <sstream>

namespace Veltrane {

/// The logger every part of the system writes to (log4cxx's root logger).
/// Installs the console fall-back of configureDefaultLogging() when nothing
/// has configured logging yet.
log4cxx::LoggerPtr appLogger();

/// Start-up logging: a console appender with `pattern` and, when `logToFile`,
/// a buffered file appender on `path`. Without `overwrite` an existing file is
/// appended to, after one empty line that separates the runs. Appenders of an
/// earlier set-up stay.
void configureLogging(const log4cxx::LogString& pattern, bool logToFile, bool overwrite,
                      const log4cxx::LogString& path);

/// Console-only fall-back: bare messages up to INFO, "WARNING: ", "ERROR: "
/// and "FATAL: " prefixes above.
void configureDefaultLogging();

/// Flushes and closes every appender; call once before a normal exit so the
/// buffered log file keeps its last lines.
void shutdownLogging();

}  // namespace Veltrane

/// Streams `message` (anything `operator<<` accepts, chained) to the
/// application logger at `level`, formatting it only when the level is enabled.
#define VELTRANE_LOG(level, message)                                     \
    do {                                                                 \
        const ::log4cxx::LoggerPtr veltraneLogger = ::Veltrane::appLogger(); \
        if (veltraneLogger->isEnabledFor(level)) {                       \
            std::ostringstream veltraneStream;                           \
            veltraneStream << message;                                   \
            veltraneLogger->forcedLog(level, veltraneStream.str());      \
        }                                                                \
    } while (false)

#define VELTRANE_INFO(message) VELTRANE_LOG(::log4cxx::Level::getInfo(), message)
#define VELTRANE_WARN(message) VELTRANE_LOG(::log4cxx::Level::getWarn(), message)
#define VELTRANE_ERROR(message) VELTRANE_LOG(::log4cxx::Level::getError(), message)
