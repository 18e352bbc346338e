#pragma once

#include "core/ClHandle.h"

#include <memory>
#include <string>
#include <vector>

namespace Veltrane {

class ClDevice;
class ClEnvironment;
class ClKernel;

/// An OpenCL program built from the embedded source `name` + ".cl" for the
/// device of an environment, with `header` put in front of the source and
/// build `options` (variants are chosen with "-D NAME" definitions).
class ClProgram {
public:
    /// Builds at once; throws what `build` throws.
    ClProgram(std::string name, std::string header = std::string(),
              std::string options = std::string(), ClEnvironment* environment = nullptr);

    /// (Re)builds the program. False, without a message, when the
    /// environment has no valid context. Throws std::runtime_error, after
    /// logging, when the source is missing ("Missing OpenCL program"), the
    /// program cannot be created ("Couldn't create OpenCL program") or does
    /// not compile ("Couldn't build OpenCL program", with the build log in
    /// the log). Kernels created earlier keep the code of the earlier build.
    bool build();

    /// Replaces the options and rebuilds; false without rebuilding when they
    /// are the current options.
    bool setOptions(const std::string& options);
    std::string options() const { return m_options; }

    /// A new kernel of this program; throws when there is no such kernel.
    std::unique_ptr<ClKernel> createKernel(const std::string& kernelName);

    ClEnvironment* environment() const { return m_environment; }
    ClDevice* device() const;
    cl_program id() const { return m_handle.get(); }

    /// The build log for the environment's device.
    std::string buildLog() const;
    /// The raw value of a build query for the environment's device.
    std::vector<unsigned char> buildInfo(cl_program_build_info param, int* error = nullptr) const;

private:
    ClEnvironment* m_environment;
    std::string m_name;
    std::string m_header;
    std::string m_options;
    ClHandle<cl_program, clReleaseProgram> m_handle;
};

}  // namespace Veltrane
