#include "core/ClProgram.h"

#include "core/ClEnvironment.h"
#include "core/ClKernel.h"
#include "core/ClQuery.h"
#include "core/EmbeddedSource.h"
#include "core/Logging.h"

#include <locale>
#include <stdexcept>

namespace Veltrane {

namespace {

std::string trimmed(const std::string& text)
{
    const std::locale locale;
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(text[begin], locale))
        ++begin;
    while (end > begin && std::isspace(text[end - 1], locale))
        --end;
    return text.substr(begin, end - begin);
}

}  // namespace

ClProgram::ClProgram(std::string name, std::string header, std::string options,
                     ClEnvironment* environment)
    : m_environment(environment ? environment : ClEnvironment::defaultEnvironment()),
      m_name(std::move(name)),
      m_header(std::move(header)),
      m_options(std::move(options))
{
    build();
}

bool ClProgram::build()
{
    m_handle.reset();
    const std::string fileName = m_name + ".cl";
    const std::string source = embeddedSource(fileName);
    if (source.empty()) {
        VELTRANE_ERROR("Could not load OpenCL program " << fileName);
        throw std::runtime_error("Missing OpenCL program");
    }
    const std::string text = m_header + source;
    if (!m_environment->context()->isValid())
        return false;

    const char* texts[] = {text.c_str()};
    cl_int code = CL_SUCCESS;
    m_handle.reset(
        clCreateProgramWithSource(m_environment->context()->id(), 1, texts, nullptr, &code));
    if (code != CL_SUCCESS) {
        m_handle.reset();
        VELTRANE_ERROR("Couldn't create OpenCL program" << ClCode{code});
        throw std::runtime_error("Couldn't create OpenCL program");
    }

    const cl_device_id device = m_environment->device()->id();
    code = clBuildProgram(m_handle.get(), 1, &device,
                          m_options.empty() ? nullptr : m_options.c_str(), nullptr, nullptr);
    if (code != CL_SUCCESS) {
        const std::string log = buildLog();
        m_handle.reset();
        VELTRANE_ERROR("Couldn't build OpenCL program" << ClCode{code});
        VELTRANE_ERROR("Build log: " << log);
        throw std::runtime_error("Couldn't build OpenCL program");
    }
    const std::string log = trimmed(buildLog());
    if (log.size() > 2)
        VELTRANE_INFO("Build log: " << log);
    return true;
}

bool ClProgram::setOptions(const std::string& options)
{
    if (options == m_options)
        return false;
    m_options = options;
    return build();
}

std::unique_ptr<ClKernel> ClProgram::createKernel(const std::string& kernelName)
{
    return std::make_unique<ClKernel>(this, kernelName, m_environment);
}

ClDevice* ClProgram::device() const
{
    return m_environment->device();
}

std::vector<unsigned char> ClProgram::buildInfo(cl_program_build_info param, int* error) const
{
    const cl_device_id device = m_environment->device()->id();
    return clInfoBytes(
        [&](std::size_t size, void* value, std::size_t* sizeReturned) {
            return clGetProgramBuildInfo(m_handle.get(), device, param, size, value,
                                         sizeReturned);
        },
        error);
}

std::string ClProgram::buildLog() const
{
    return clInfoText(buildInfo(CL_PROGRAM_BUILD_LOG));
}

}  // namespace Veltrane
