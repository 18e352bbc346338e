#include "core/GlError.h"

#include "core/Logging.h"

#include <GL/glew.h>

#include <sstream>
#include <stdexcept>

namespace Veltrane {
namespace {

constexpr int kListedErrors = 11;

std::string glErrorName(unsigned code)
{
    switch (code) {
    case GL_INVALID_ENUM: return "Invalid enum";
    case GL_INVALID_VALUE: return "Invalid value";
    case GL_INVALID_OPERATION: return "Invalid operation";
    case GL_STACK_OVERFLOW: return "Stack overflow";
    case GL_STACK_UNDERFLOW: return "Stack underflow";
    case GL_OUT_OF_MEMORY: return "Out of memory";
    case GL_INVALID_FRAMEBUFFER_OPERATION: return "Invalid framebuffer operation";
    default: return unknownGlErrorName(code);
    }
}

}  // namespace

std::string unknownGlErrorName(unsigned code)
{
    std::ostringstream text;
    text << "Unknown error 0x" << std::hex << code;
    return text.str();
}

std::string glErrorMessage(const std::function<unsigned()>& nextError, const char* file,
                           int line)
{
    unsigned code = nextError();
    if (code == GL_NO_ERROR)
        return {};
    std::ostringstream text;
    if (file)
        text << file << " line " << line << ", ";
    text << "OpenGL error: ";
    for (int count = 0; code != GL_NO_ERROR; ++count) {
        if (count > 0)
            text << "; ";
        if (count == kListedErrors) {
            text << "(more errors)";
            break;
        }
        text << glErrorName(code);
        code = nextError();
    }
    return text.str();
}

int checkGlError(const char* file, int line)
{
    const std::string message = glErrorMessage([] { return glGetError(); }, file, line);
    if (message.empty())
        return 0;
    VELTRANE_ERROR(message);
    throw std::runtime_error("OpenGL error");
}

}  // namespace Veltrane
