#pragma once

#include "core/Image.h"

#include <Eigen/Core>

#include <array>
#include <memory>

namespace Veltrane {

class ClImage;
class GlImage;
class MemImage;

/// One image kept in up to three places: host memory (`MemImage`), an OpenGL
/// texture (`GlImage`) and OpenCL memory (`ClImage`).
///
/// Whoever writes a copy directly flags it with setMemModified(),
/// setGlModified() or setClModified(); whoever needs a copy asks for it with
/// mem() or gl(), which first bring it up to date from the copy that changed.
/// Memory feeds OpenGL and OpenGL feeds memory; the OpenCL copy only feeds
/// memory. There are no locks: callers serialise every use of one shared
/// image, and OpenGL work happens on the thread whose context is current.
class SharedImage : public Data, public DataListener {
public:
    /// Holds `image` as its primary copy, at `image->location()`. A bare
    /// header (location 0) is replaced by a memory image of its type, sizes
    /// and intensity mapping (elements not initialised), which then counts as
    /// the primary copy; with `takeOwnership` the header is deleted at once.
    /// Otherwise the shared image deletes `image` only with `takeOwnership`.
    /// Copies made later belong to the shared image.
    SharedImage(Image* image, bool takeOwnership);
    ~SharedImage() override;

    /// The primary copy's kind; 0 once it has been destroyed elsewhere.
    int kind() const override;
    /// Sizes and spacing of the primary copy; 0 (null for spacing) once it has
    /// been destroyed elsewhere.
    int width() const;
    int height() const;
    int slices() const;
    int channels() const;
    const double* spacing() const;
    int dimension() const;
    /// Width, height and slices times the spacing.
    std::array<double, 3> extent() const;

    /// The primary copy without synchronising; null once destroyed elsewhere.
    Image* image() const;
    /// The up-to-date memory copy, or null when there is none.
    MemImage* mem();
    /// The up-to-date OpenGL copy, or null when there is none. Needs a current
    /// OpenGL context; throws std::runtime_error when the texture cannot be
    /// made.
    GlImage* gl();
    /// The memory or OpenGL copy as it is, without synchronising.
    MemImage* memPointer() const { return m_mem; }
    GlImage* glPointer() const { return m_gl; }
    /// syncMem(), then syncGl().
    void sync();
    /// Brings the memory copy up to date from the OpenCL or OpenGL copy,
    /// creating it when there is none. A failed OpenCL read is logged and
    /// leaves the memory copy flagged as stale (a copy made for the read is
    /// dropped).
    void syncMem();
    /// Brings the OpenGL copy up to date from the memory copy, creating it
    /// when there is none. (OpenCL cannot feed it; that is reported.)
    void syncGl();

    /// Flag a copy as newer than the other two after writing into it directly.
    void setMemModified();
    void setGlModified();
    void setClModified();

    /// Copies `src` into the memory copy. Without one, a clone of `src`
    /// becomes the memory copy when `create` is set (with default spacing,
    /// shift and scale), else false. False when the copy fails.
    bool assign(const MemImage* src, bool create);
    /// Gives the memory and OpenGL copies new sizes (contents lost); false
    /// when one of them refuses. An OpenCL copy keeps its size, which is
    /// reported; it then no longer feeds the memory copy.
    bool resize(int width, int height, int slices);

    /// The stored 4x4 column-major matrix, or the identity when none is stored.
    Eigen::Matrix4d matrix() const;
    /// The stored matrix, created as the identity on first use.
    Eigen::Matrix4d* matrixPointer();
    void setMatrix(const Eigen::Matrix4d& matrix);

    /// Forgets a copy that is being destroyed elsewhere.
    void dataDeleted(Data* data) override;

private:
    /// Per copy, indexed by `ImageLocation`.
    using LocationFlags = std::array<bool, 4>;

    Image* copyAt(int location) const;
    /// A size of the primary copy, 0 without one.
    int primaryField(int Image::*field) const;
    /// Sets the copy pointer of `location` (copy->location() or null).
    void setCopy(int location, Image* copy);
    /// Registers on and takes ownership of a copy the shared image made.
    void adoptCopy(Image* copy);
    /// Unregisters from a copy and deletes it when it is the shared image's.
    void dropCopy(Image* copy);
    void downloadFromGl();
    void readFromCl();

    int m_primaryLocation;
    std::unique_ptr<Eigen::Matrix4d> m_storedMatrix;
    MemImage* m_mem = nullptr;
    GlImage* m_gl = nullptr;
    ClImage* m_cl = nullptr;
    LocationFlags m_owned{};
    /// m_newer[a][b]: copy a was changed after copy b was last brought up to date.
    std::array<LocationFlags, 4> m_newer{};
};

}  // namespace Veltrane
