#pragma once

#include "render/GlBuffer.h"

#include <memory>
#include <vector>

namespace Veltrane {

class GlFramebuffer;
class GlImage;
class GlProgram;
class MemImage;
class SharedImage;

/// Counts the pixels of images into a fixed number of bins, on the GPU (one
/// point per pixel drawn into a row of float pixels with additive blending)
/// or on the CPU. Counts and the sample count add up over every compute().
///
/// A pixel's value is its first channel, or the mean of the first three
/// channels for images of three or more; values are taken relative to the
/// largest value of the element type (1 for floating point). One channel
/// falls into the nearest bin, the mean of three into the bin below it;
/// values outside 0 ... 1 count in the first or the last bin. Both paths
/// count alike.
///
/// Needs the OpenGL context current; everything it changes of the OpenGL
/// state (bindings, viewport, blending, client arrays) is put back.
class GpuHistogram {
public:
    /// Throws std::runtime_error when its programs cannot be built.
    explicit GpuHistogram(int bins);
    ~GpuHistogram();
    GpuHistogram(const GpuHistogram&) = delete;
    GpuHistogram& operator=(const GpuHistogram&) = delete;

    /// Starts over with `bins` empty bins, unless that is the current count.
    void setBins(int bins);
    int bins() const { return m_bins; }

    /// Counts `image`'s OpenGL copy on the GPU when `useGpu` is 1 and float
    /// colour buffers are available, otherwise its memory copy; neither is
    /// brought up to date first. False when that copy does not exist or the
    /// GPU fails (the counts then stay as they were).
    bool compute(SharedImage* image, int useGpu);
    /// Counts the texture `image` on the GPU; false, counts unchanged, when
    /// OpenGL reports an error or the framebuffer is incomplete.
    bool computeGpu(GlImage* image);
    /// Counts the memory image `image`; false for an image without elements.
    bool computeCpu(const MemImage* image);

    /// The counts: `bins` x 1 floats, bin i at element i.
    SharedImage* result() const { return m_result.get(); }
    /// The counts read back to memory.
    std::vector<float> counts() const;
    /// Pixels counted since construction.
    long long sampleCount() const { return m_sampleCount; }

private:
    /// Fills the point buffer with one point per pixel of a slice.
    void preparePoints(int count);
    void drawPoints(GlImage* image);

    int m_bins = 0;
    long long m_sampleCount = 0;
    std::unique_ptr<SharedImage> m_result;
    GlBuffer m_pointBuffer;
    int m_pointCount = 0;
    std::unique_ptr<GlProgram> m_program;
    std::unique_ptr<GlFramebuffer> m_framebuffer;
};

}  // namespace Veltrane
