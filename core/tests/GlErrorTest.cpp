#include "core/GlError.h"

#include "testsupport/GlTest.h"
#include "testsupport/LogCapture.h"

#include <GL/glew.h>

#include <stdexcept>
#include <vector>

namespace Veltrane {
namespace {

/// Hands out `codes` one by one, then GL_NO_ERROR, counting the reads.
struct ErrorQueue {
    std::vector<unsigned> codes;
    std::size_t reads = 0;
    unsigned operator()() { return reads < codes.size() ? codes[reads++] : (++reads, 0u); }
};

TEST(GlErrorMessage, NamesPendingErrorsInOrder)
{
    struct Case {
        std::vector<unsigned> codes;
        const char* file;
        std::string expected;
    };
    const Case cases[] = {
        {{}, nullptr, ""},
        {{GL_INVALID_ENUM, GL_INVALID_VALUE, GL_OUT_OF_MEMORY}, nullptr,
         "OpenGL error: Invalid enum; Invalid value; Out of memory"},
        {{GL_INVALID_OPERATION, GL_STACK_OVERFLOW, GL_STACK_UNDERFLOW,
          GL_INVALID_FRAMEBUFFER_OPERATION, 0x1234},
         nullptr,
         "OpenGL error: Invalid operation; Stack overflow; Stack underflow; Invalid framebuffer "
         "operation; Unknown error 0x1234"},
        {{GL_STACK_OVERFLOW}, "view.cpp", "view.cpp line 7, OpenGL error: Stack overflow"},
    };
    for (const Case& c : cases) {
        ErrorQueue queue{c.codes};
        EXPECT_EQ(glErrorMessage(std::ref(queue), c.file, 7), c.expected);
    }
}

TEST(GlErrorMessage, StopsReadingAtTheTwelfthError)
{
    ErrorQueue queue{std::vector<unsigned>(14, GL_INVALID_VALUE)};
    std::string expected = "OpenGL error: Invalid value";
    for (int i = 1; i < 11; ++i)
        expected += "; Invalid value";
    expected += "; (more errors)";
    EXPECT_EQ(glErrorMessage(std::ref(queue), nullptr, 0), expected);
    EXPECT_EQ(queue.reads, 12u) << "errors after the twelfth stay pending";
}

using CheckGlErrorTest = GlTest;

TEST_F(CheckGlErrorTest, LogsAndThrowsAPendingError)
{
    LogCapture log;
    EXPECT_EQ(checkGlError(), 0);
    EXPECT_TRUE(log.lines().empty());

    glEnable(0x1);  // not a capability: GL_INVALID_ENUM
    try {
        checkGlError();
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "OpenGL error");
    }
    EXPECT_EQ(log.lines(), std::vector<std::string>{"ERROR OpenGL error: Invalid enum"});
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
}  // namespace Veltrane
