#pragma once

#include "core/ClDevice.h"
#include "core/ClEnvironment.h"
#include "core/ClPlatform.h"
#include "core/Logging.h"

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/spi/loggingevent.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace Veltrane {

/// Collects what is logged while it exists, as "LEVEL message" lines.
class LogCapture {
public:
    LogCapture() : m_appender(std::make_shared<Appender>())
    {
        appLogger()->addAppender(m_appender);
    }
    ~LogCapture() { appLogger()->removeAppender(m_appender); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<std::string>& lines() const { return m_appender->lines; }
    bool contains(const std::string& line) const
    {
        return std::find(lines().begin(), lines().end(), line) != lines().end();
    }
    /// Lines that start with `prefix`.
    std::size_t countStartingWith(const std::string& prefix) const
    {
        return std::count_if(lines().begin(), lines().end(), [&](const std::string& line) {
            return line.compare(0, prefix.size(), prefix) == 0;
        });
    }

private:
    struct Appender : log4cxx::AppenderSkeleton {
        void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override
        {
            lines.push_back(event->getLevel()->toString() + " " + event->getRenderedMessage());
        }
        void close() override {}
        bool requiresLayout() const override { return false; }
        std::vector<std::string> lines;
    };
    std::shared_ptr<Appender> m_appender;
};

/// How many references the OpenCL context of `environment` has; every
/// memory object and program made on it holds one.
inline cl_uint contextReferences(const ClEnvironment* environment)
{
    cl_uint count = 0;
    clGetContextInfo(environment->context()->id(), CL_CONTEXT_REFERENCE_COUNT, sizeof count,
                     &count, nullptr);
    return count;
}

/// The message of the std::runtime_error that `call` throws.
template <typename Call>
std::string thrownBy(Call call)
{
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "nothing thrown";
}

/// One environment on the first OpenCL device of the machine (whatever its
/// type), shared by the tests of a process: building programs is slow.
inline ClEnvironment* testEnvironment()
{
    static const std::unique_ptr<ClEnvironment> environment = [] {
        const auto platforms = ClPlatform::platforms();
        if (platforms.empty())
            return std::unique_ptr<ClEnvironment>();
        const auto devices = platforms.front()->devices(CL_DEVICE_TYPE_ALL);
        if (devices.empty())
            return std::unique_ptr<ClEnvironment>();
        return std::make_unique<ClEnvironment>(platforms.front().get(), devices.front().get());
    }();
    return environment.get();
}

}  // namespace Veltrane
