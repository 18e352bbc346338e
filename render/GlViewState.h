#pragma once

#include <array>

namespace Veltrane {

/// A snapshot of the fixed-function viewport, projection and modelview
/// matrices, with the projection of points to window coordinates and back.
/// Matrices are column-major, as OpenGL keeps them.
class GlViewState {
public:
    /// With `capture`, reads the current OpenGL state; otherwise viewport
    /// (0, 0, 1, 1) and identity matrices.
    explicit GlViewState(bool capture);

    /// Reads viewport, projection and modelview from the current context.
    void capture();
    /// Loads the matrices and the viewport into the current context; leaves
    /// the matrix mode at GL_MODELVIEW.
    void apply() const;

    /// Window coordinates (x, y in pixels, z from 0 to 1) of the object point
    /// `object`; false, `window` untouched, when the point projects to w = 0.
    bool project(const double object[3], double window[3]) const;
    /// The object point at window coordinates `window`; false, `object`
    /// untouched, when the inverse projection gives w = 0.
    bool unproject(const double window[3], double object[3]) const;

    std::array<int, 4> viewport;  ///< x, y, width, height
    std::array<double, 16> projection;
    std::array<double, 16> modelview;
};

/// Multiplies the current OpenGL matrix by a perspective projection with a
/// vertical field of view of `fovyDegrees`; the caller chooses the matrix mode.
void glPerspective(double fovyDegrees, double aspect, double zNear, double zFar);

}  // namespace Veltrane
