#pragma once

#include <functional>
#include <string>

namespace Veltrane {

/// Reads every pending OpenGL error; with none returns 0. Otherwise logs one
/// line at ERROR ("OpenGL error: " and the error names joined by "; ",
/// prefixed by "<file> line <line>, " when `file` is given) and throws
/// std::runtime_error("OpenGL error"). Needs a current OpenGL context.
int checkGlError(const char* file = nullptr, int line = 0);

/// The message checkGlError() logs, with the errors taken from `nextError`
/// until it yields 0 (GL_NO_ERROR); empty when the first call yields 0. After
/// eleven names, a twelfth error ends the list with "(more errors)" and further
/// errors are left unread.
std::string glErrorMessage(const std::function<unsigned()>& nextError, const char* file,
                           int line);

/// "Unknown error 0x" followed by `code` in lower-case hexadecimal.
std::string unknownGlErrorName(unsigned code);

}  // namespace Veltrane
