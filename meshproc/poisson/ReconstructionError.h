#pragma once

#include <stdexcept>
#include <string>

namespace Veltrane {
namespace PoissonReconstruction {

/// A condition the surface reconstruction cannot continue from. The run's
/// entry catches it, logs the failure and returns no mesh; the process goes on.
class ReconstructionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// printf-style formatting of a diagnostic line.
std::string formatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Writes `message` to the standard error stream as it is, then throws it as a
/// ReconstructionError.
[[noreturn]] void failReconstruction(const std::string& message);

}  // namespace PoissonReconstruction
}  // namespace Veltrane
