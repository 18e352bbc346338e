#include "reconstruction/KernelLaunch.h"

#include "core/ClKernel.h"
#include "core/Logging.h"

#include <string>

namespace Veltrane {

KernelLaunch::KernelLaunch(ClKernel& kernel, const char* failureMessage)
    : m_kernel(kernel), m_failureMessage(failureMessage)
{
}

KernelLaunch& KernelLaunch::next(cl_int code)
{
    if (m_error == CL_SUCCESS)
        m_error = code;
    ++m_index;
    return *this;
}

KernelLaunch& KernelLaunch::image(const ClImage* image)
{
    return next(m_kernel.setArgImage(m_index, image));
}

KernelLaunch& KernelLaunch::scalar(int value)
{
    return next(m_kernel.setArgScalar(m_index, value));
}

KernelLaunch& KernelLaunch::scalar(float value)
{
    return next(m_kernel.setArgScalar(m_index, value));
}

KernelLaunch& KernelLaunch::byte(unsigned char value)
{
    return next(m_kernel.setArgByte(m_index, value));
}

KernelLaunch& KernelLaunch::int3(int x, int y, int z)
{
    return next(m_kernel.setArgInt3(m_index, x, y, z));
}

KernelLaunch& KernelLaunch::float3(float x, float y, float z)
{
    return next(m_kernel.setArgFloat3(m_index, x, y, z));
}

KernelLaunch& KernelLaunch::float4(float x, float y, float z, float w)
{
    return next(m_kernel.setArgFloat4(m_index, x, y, z, w));
}

KernelLaunch& KernelLaunch::vector4(const int* values)
{
    return next(m_kernel.setArgArray(m_index, values, 4));
}

KernelLaunch& KernelLaunch::vector4(const float* values)
{
    return next(m_kernel.setArgArray(m_index, values, 4));
}

bool KernelLaunch::run()
{
    return finish(m_error == CL_SUCCESS ? m_kernel.run() : m_error);
}

bool KernelLaunch::enqueue(int dims, const std::size_t* globalSizes, const std::size_t* localSizes)
{
    return finish(m_error == CL_SUCCESS ? m_kernel.enqueue(dims, globalSizes, localSizes) : m_error);
}

bool KernelLaunch::finish(cl_int code)
{
    if (code == CL_SUCCESS)
        return true;
    const std::string message(m_failureMessage);
    if (!message.empty() && message.back() == '(')
        VELTRANE_ERROR(message << code << ")");
    else
        VELTRANE_ERROR(message);
    return false;
}

}  // namespace Veltrane
