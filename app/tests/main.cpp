#include "AppTestSupport.h"
#include "testsupport/LoadedLibraries.h"

#include <gtest/gtest.h>

// The windows and dialogs need the application the program makes.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return Veltrane::runInTestApplication(argc, argv, [] {
        const int result = RUN_ALL_TESTS();
        Veltrane::pinLoadedLibraries();
        return result;
    });
}
