#include "meshproc/poisson/IsoSurfaceAnomalies.h"

#include "core/Logging.h"

#include <gtest/gtest.h>
#include <log4cxx/appenderskeleton.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/spi/loggingevent.h>

using namespace Veltrane;
using namespace Veltrane::PoissonReconstruction;

namespace {

class CapturingAppender : public log4cxx::AppenderSkeleton {
public:
    std::vector<std::pair<log4cxx::LevelPtr, std::string>> events;

    void close() override {}
    bool requiresLayout() const override { return false; }

protected:
    void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override
    {
        std::string message;
        log4cxx::helpers::Transcoder::encode(event->getMessage(), message);
        events.emplace_back(event->getLevel(), message);
    }
};

}  // namespace

TEST(IsoSurfaceAnomalies, OneWarningWithTheCounts)
{
    auto appender = std::make_shared<CapturingAppender>();
    appLogger()->addAppender(appender);

    IsoSurfaceAnomalies none;
    none.log();
    EXPECT_TRUE(appender->events.empty());

    IsoSurfaceAnomalies some;
    some.badEdges += 2;
    some.openLoops += 1;
    EXPECT_EQ(some.total(), 3);
    some.log();
    ASSERT_EQ(appender->events.size(), 1u);
    EXPECT_EQ(appender->events[0].first, log4cxx::Level::getWarn());
    EXPECT_EQ(appender->events[0].second, "Poisson surface extraction left gaps: bad edges 2, open loops 1");

    appLogger()->removeAppender(appender);
}
