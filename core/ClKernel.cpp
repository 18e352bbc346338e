#include "core/ClKernel.h"

#include "core/ClEnvironment.h"
#include "core/ClImage.h"
#include "core/ClProgram.h"
#include "core/ClQuery.h"
#include "core/Logging.h"

#include <stdexcept>

namespace Veltrane {

ClKernel::ClKernel(const ClProgram* program, const std::string& name, ClEnvironment* environment)
    : m_environment(environment ? environment : ClEnvironment::defaultEnvironment()),
      m_program(program)
{
    cl_int code = CL_SUCCESS;
    m_handle.reset(clCreateKernel(program ? program->id() : nullptr, name.c_str(), &code));
    if (code != CL_SUCCESS) {
        m_handle.reset();
        VELTRANE_ERROR("Couldn't create OpenCL kernel" << ClCode{code});
        throw std::runtime_error("Couldn't create OpenCL kernel");
    }
}

std::size_t ClKernel::workGroupInfo(cl_kernel_work_group_info param, int* error) const
{
    const cl_device_id device = m_program->device()->id();
    return clInfoScalar<std::size_t>(clInfoBytes(
        [&](std::size_t size, void* value, std::size_t* sizeReturned) {
            return clGetKernelWorkGroupInfo(m_handle.get(), device, param, size, value,
                                            sizeReturned);
        },
        error));
}

std::size_t ClKernel::maxWorkGroupSize() const
{
    return workGroupInfo(CL_KERNEL_WORK_GROUP_SIZE);
}

std::array<std::size_t, 3> ClKernel::localSizesFor(int dims, std::size_t wg)
{
    std::array<std::size_t, 3> local{wg, 1, 1};
    if (dims == 2) {
        if (wg <= 256)
            local = {16, wg / 16, 1};
        else if (wg <= 1024)
            local = {wg / 16, 16, 1};
        else
            local = {wg / 32, 32, 1};
    } else if (dims == 3) {
        if (wg <= 1024)
            local = {8, 8, wg / 64};
        else
            local = {16, 16, wg / 256};
    }
    if (local[0] * local[1] * local[2] == 0)
        local = {wg, 1, 1};
    return local;
}

bool ClKernel::setWorkSize(int dims, std::size_t* sizes, std::size_t* localSizes)
{
    m_dims = 0;
    const std::size_t wg = maxWorkGroupSize();
    if (dims < 1 || dims > 3 || wg == 0) {
        VELTRANE_ERROR("Couldn't choose OpenCL work sizes for " << dims
                                                               << " dimensions and work-group size "
                                                               << wg);
        return false;
    }
    m_localSizes = localSizesFor(dims, wg);
    m_globalSizes = {1, 1, 1};
    for (int d = 0; d < dims; ++d) {
        const std::size_t local = m_localSizes[d];
        m_globalSizes[d] = (sizes[d] + local - 1) / local * local;
        sizes[d] = m_globalSizes[d];
        if (localSizes)
            localSizes[d] = local;
    }
    m_dims = dims;
    return true;
}

cl_int ClKernel::enqueue(int dims, const std::size_t* globalSizes,
                         const std::size_t* localSizes, const ClEventList* waitList,
                         std::unique_ptr<ClEvent>* event)
{
    return m_environment->queue()->enqueueKernel(this, dims, globalSizes, localSizes, waitList,
                                                 event);
}

cl_int ClKernel::run(const ClEventList* waitList, std::unique_ptr<ClEvent>* event)
{
    return enqueue(m_dims, m_globalSizes.data(), m_localSizes.data(), waitList, event);
}

cl_int ClKernel::setArgBytes(cl_uint index, const void* value, std::size_t size)
{
    return clSetKernelArg(m_handle.get(), index, size, value);
}

cl_int ClKernel::setArgByte(cl_uint index, unsigned char value)
{
    return setArgBytes(index, &value, 1);
}

cl_int ClKernel::setArgScalar(cl_uint index, int value)
{
    return setArgBytes(index, &value, 4);
}

cl_int ClKernel::setArgScalar(cl_uint index, unsigned value)
{
    return setArgBytes(index, &value, 4);
}

cl_int ClKernel::setArgScalar(cl_uint index, float value)
{
    return setArgBytes(index, &value, 4);
}

cl_int ClKernel::setArgInt3(cl_uint index, int x, int y, int z)
{
    const cl_int4 value{{x, y, z, 0}};
    return setArgBytes(index, &value, sizeof value);
}

cl_int ClKernel::setArgFloat3(cl_uint index, float x, float y, float z)
{
    const cl_float4 value{{x, y, z, 0.0f}};
    return setArgBytes(index, &value, sizeof value);
}

cl_int ClKernel::setArgFloat4(cl_uint index, float x, float y, float z, float w)
{
    const cl_float4 value{{x, y, z, w}};
    return setArgBytes(index, &value, sizeof value);
}

cl_int ClKernel::setArgImage(cl_uint index, const ClImage* image)
{
    const cl_mem memory = image ? image->memObject() : nullptr;
    return setArgBytes(index, &memory, sizeof memory);
}

cl_int ClKernel::setArgLocal(cl_uint index, std::size_t bytes)
{
    return setArgBytes(index, nullptr, bytes);
}

}  // namespace Veltrane
