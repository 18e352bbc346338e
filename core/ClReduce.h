#pragma once

#include <array>
#include <memory>

namespace Veltrane {

class ClEnvironment;
class ClImage;
class ClKernel;
class ClProgram;

/// Sums the first n elements of an OpenCL buffer: one device pass over at
/// most `groupCount` work-groups writes one partial sum per group, which are
/// then added on the host or left in a caller's target buffer.
///
/// The program follows the input's element type (byte, short and int types,
/// signed or not, and float) and is rebuilt whenever it changes. Calls must
/// not overlap.
class ClReduce {
public:
    /// Number of partial sums a pass writes at most.
    static constexpr int groupCount = 64;

    /// Builds the reduction program on `environment` (null for the default
    /// one); throws what building throws.
    explicit ClReduce(ClEnvironment* environment = nullptr);
    ~ClReduce();

    /// The sum of the first `n` elements of `input` (a buffer), added as
    /// floats.
    ///
    /// With a `target` (a float buffer of at least `groupCount` values) the
    /// partial sums stay on the device: all `groupCount` entries of the
    /// target add up to the sum (entries of unused groups are cleared), and
    /// the result is 0. Work is queued; nothing waits for it.
    ///
    /// `ok`, when given, tells whether the sum was formed: false after a
    /// refused input or type, a failed launch or a failed read (each
    /// logged), where the result is 0.
    float sum(const ClImage* input, int n, ClImage* target = nullptr, bool* ok = nullptr);

    /// Work-items per group of the partial-sum pass.
    int localSize() const { return m_localSize; }
    /// Element type (PixelType code) the program is currently built for.
    int elementType() const { return m_elementType; }
    /// The buffer that receives the partial sums when no target is given.
    const ClImage* partialSums() const { return m_partialSums.get(); }

private:
    bool prepareFor(int type);
    void createKernels();
    bool formSum(const ClImage* input, int n, ClImage* target, float* result);

    ClEnvironment* m_environment;
    std::unique_ptr<ClProgram> m_program;
    std::unique_ptr<ClKernel> m_reduce;
    std::unique_ptr<ClKernel> m_reduceFinal;
    std::unique_ptr<ClImage> m_partialSums;
    std::array<float, groupCount> m_hostSums{};
    int m_localSize = 0;
    int m_finalLocalSize = 0;
    int m_elementType = 0;
};

}  // namespace Veltrane
