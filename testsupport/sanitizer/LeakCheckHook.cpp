// Sanitizer builds: LeakSanitizer asks this hook before it checks a process
// for leaks, at exit. A test program whose tests asked for no leak check
// (skipLeakCheck) has none. Linked into every test program of a sanitizer
// build.
#include "testsupport/LeakCheck.h"

extern "C" int __lsan_is_turned_off()
{
    return Veltrane::TestSupport::leakCheckSkipped() ? 1 : 0;
}
