#include "testsupport/LeakCheck.h"

#include <atomic>

namespace Veltrane::TestSupport {

namespace {
std::atomic<bool> skipped{false};
}

void skipLeakCheck() { skipped = true; }

bool leakCheckSkipped() { return skipped; }

}  // namespace Veltrane::TestSupport
