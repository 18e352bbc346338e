#include "core/ClReduce.h"

#include "core/ClEnvironment.h"
#include "core/ClImage.h"
#include "core/ClKernel.h"
#include "core/ClProgram.h"
#include "core/Logging.h"

#include <algorithm>

namespace Veltrane {

namespace {

/// Build options for inputs of `type`; null for types the program refuses.
const char* optionsFor(int type)
{
    switch (type) {
    case PixelType::UnsignedByte:
        return "-D TYPENAME=uchar";
    case PixelType::Byte:
        return "-D TYPENAME=char";
    case PixelType::UnsignedShort:
        return "-D TYPENAME=ushort";
    case PixelType::Short:
        return "-D TYPENAME=short";
    case PixelType::UnsignedInt:
        return "-D TYPENAME=uint";
    case PixelType::Int:
        return "-D TYPENAME=int";
    case PixelType::Float:
        return "-D TYPENAME=float";
    default:
        return nullptr;
    }
}

/// 128 work-items per group, or the largest power of two the kernel allows
/// below that (the in-group sum halves the group at every step).
int localSizeFor(const ClKernel& kernel)
{
    const std::size_t limit = kernel.maxWorkGroupSize();
    int size = 128;
    while (limit != 0 && static_cast<std::size_t>(size) > limit && size > 1)
        size /= 2;
    return size;
}

/// Zeros for the partial sums of groups a pass does not use. Static, so a
/// queued copy may read them at any time.
const std::array<float, ClReduce::groupCount> unusedSums{};

}  // namespace

ClReduce::ClReduce(ClEnvironment* environment)
    : m_environment(environment),
      m_program(std::make_unique<ClProgram>("Reduction", std::string(), optionsFor(PixelType::Float),
                                            environment))
{
    createKernels();
    m_elementType = PixelType::Float;
    m_partialSums = std::make_unique<ClImage>(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite,
                                              Image(PixelType::Float, groupCount, 1, 1, 1),
                                              nullptr, 0, 0, environment);
}

ClReduce::~ClReduce() = default;

void ClReduce::createKernels()
{
    m_reduce = m_program->createKernel("reduce");
    m_reduceFinal = m_program->createKernel("reduceFinal");
    m_localSize = localSizeFor(*m_reduce);
    m_finalLocalSize = localSizeFor(*m_reduceFinal);
    m_reduce->setArgLocal(3, sizeof(float) * m_localSize);
    m_reduceFinal->setArgLocal(3, sizeof(float) * m_finalLocalSize);
}

bool ClReduce::prepareFor(int type)
{
    if (type == m_elementType)
        return true;
    const char* options = optionsFor(type);
    if (!options) {
        VELTRANE_ERROR("ClReduction: Data type not supported");
        return false;
    }
    m_program->setOptions(options);
    createKernels();
    m_elementType = type;
    return true;
}

float ClReduce::sum(const ClImage* input, int n, ClImage* target, bool* ok)
{
    float result = 0.0f;
    const bool formed = formSum(input, n, target, &result);
    if (ok)
        *ok = formed;
    return result;
}

bool ClReduce::formSum(const ClImage* input, int n, ClImage* target, float* result)
{
    if (!input || input->memoryKind() != ClMemoryKind::Buffer) {
        VELTRANE_ERROR("ClReduction: Input must be an OpenCL buffer");
        return false;
    }
    if (n < 0 || static_cast<std::size_t>(n) > input->elementCount()) {
        VELTRANE_ERROR("ClReduction: Element count " << n << " outside the input");
        return false;
    }
    if (target && (target->memoryKind() != ClMemoryKind::Buffer ||
                   target->type != PixelType::Float ||
                   target->byteSize() < sizeof(float) * groupCount)) {
        VELTRANE_ERROR("ClReduction: Target must be a float buffer of " << groupCount
                                                                         << " values");
        return false;
    }
    if (!prepareFor(input->type))
        return false;

    const long perGroup = 2L * m_localSize;
    const int groups = static_cast<int>(std::min<long>((n + perGroup - 1) / perGroup, groupCount));
    ClImage* output = target ? target : m_partialSums.get();

    if (target && groups < groupCount) {
        const cl_int code = clEnqueueWriteBuffer(
            m_program->environment()->queue()->id(), target->memObject(), CL_FALSE,
            sizeof(float) * groups, sizeof(float) * (groupCount - groups),
            unusedSums.data(), 0, nullptr, nullptr);
        if (code != CL_SUCCESS) {
            VELTRANE_ERROR("ClReduction: Couldn't clear unused partial sums" << ClCode{code});
            return false;
        }
    }
    if (groups > 0) {
        m_reduce->setArgImage(0, input);
        m_reduce->setArgImage(1, output);
        m_reduce->setArgScalar(2, n);
        const std::size_t local = static_cast<std::size_t>(m_localSize);
        const std::size_t global = local * static_cast<std::size_t>(groups);
        if (m_reduce->enqueue(1, &global, &local) != CL_SUCCESS) {
            VELTRANE_ERROR("ClReduction: Couldn't enqueue reduction kernel");
            return false;
        }
    }
    if (target || groups == 0)
        return true;

    if (!m_partialSums->read(m_hostSums.data(), sizeof m_hostSums, sizeof(float) * groups)) {
        VELTRANE_ERROR("ClReduction: Couldn't download results");
        return false;
    }
    float total = 0.0f;
    for (int g = 0; g < groups; ++g)
        total += m_hostSums[g];
    *result = total;
    return true;
}

}  // namespace Veltrane
