#include "meshproc/poisson/ReconstructionError.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

std::string formatMessage(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
        text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(arguments);
    return text;
}

void failReconstruction(const std::string& message)
{
    std::fputs(message.c_str(), stderr);
    throw ReconstructionError(message);
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
