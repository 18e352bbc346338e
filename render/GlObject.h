#pragma once

#include <array>

namespace Veltrane {

/// A 4x4 matrix in OpenGL's column-major order.
using GlMatrix = std::array<double, 16>;
/// A point or length in three dimensions.
using GlVector = std::array<double, 3>;

/// The identity matrix.
GlMatrix identityGlMatrix();

/// Something a 3-D view draws: a drawable with its own model matrix, which
/// it multiplies onto the modelview matrix while it draws and takes off
/// again afterwards. Drawing happens in the user interface thread with the
/// view's OpenGL context current.
class GlObject {
public:
    GlObject() = default;
    virtual ~GlObject() = default;
    GlObject(const GlObject&) = delete;
    GlObject& operator=(const GlObject&) = delete;

    virtual void draw() = 0;
    virtual void setMatrix(const GlMatrix& matrix);
    virtual const GlMatrix& matrix() const;

protected:
    GlMatrix m_matrix = identityGlMatrix();
};

/// Multiplies a model matrix onto the modelview matrix (which becomes the
/// current matrix mode) for as long as it lives.
class GlModelMatrixScope {
public:
    explicit GlModelMatrixScope(const GlMatrix& matrix);
    ~GlModelMatrixScope();
    GlModelMatrixScope(const GlModelMatrixScope&) = delete;
    GlModelMatrixScope& operator=(const GlModelMatrixScope&) = delete;
};

}  // namespace Veltrane
