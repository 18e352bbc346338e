#pragma once

#include <QPointer>

#include <array>
#include <memory>

namespace Veltrane {

class GlFramebuffer;
class GlImage;
class Image;
class GlProgram;

/// Reads single texels of OpenGL images, for images that have no memory
/// copy: draws one pixel with a fetch program into a small float target and
/// reads it back.
///
/// One instance serves the process; it keeps its program, framebuffer and
/// target between reads in one context, and makes them anew when a read
/// comes in another. Use it with the OpenGL context current; the
/// framebuffer bindings, the program in use, the viewport, the matrices and
/// the enables and client arrays it changes are put back.
class GlTexelReader {
public:
    static GlTexelReader& instance();

    /// The texel of `image` at voxel (x, y, z) as RGBA floats (a one-channel
    /// texture gives its value in the first three, two channels give value
    /// and alpha in the first and the fourth). Throws std::runtime_error when
    /// the fetch program cannot be built or OpenGL fails.
    std::array<float, 4> read(GlImage* image, int x, int y, int z);

    /// The point in normalised texture coordinates at which read() samples
    /// voxel (x, y, z) of `image`: the voxel's centre.
    static std::array<float, 3> texelCentre(const Image& image, int x, int y, int z);

private:
    GlTexelReader();
    ~GlTexelReader();

    /// The context that the program, framebuffer and target were made in.
    QPointer<QObject> m_context;
    std::unique_ptr<GlProgram> m_program;
    std::unique_ptr<GlFramebuffer> m_framebuffer;
    std::unique_ptr<GlImage> m_target;
};

}  // namespace Veltrane
