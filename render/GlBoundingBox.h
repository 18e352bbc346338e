#pragma once

#include "render/GlAnnotation.h"

namespace Veltrane {

class ReconstructionParameters;

/// The eight corners of the box of `center` and full edge lengths `extent`,
/// P1 ... P8 at indices 0 ... 7: P1 (+x, +y, +z), P2 (-x, +y, +z),
/// P3 (-x, +y, -z), P4 (+x, +y, -z), then P5 ... P8 likewise at -y.
std::array<GlVector, 8> boxCorners(const GlVector& center, const GlVector& extent);

/// A wire box of twelve edges in the annotation colour, for instance the
/// crop box of the mesh view. The current line width is used.
class GlBoundingBox : public Gl3DObject {
public:
    /// Centre (0, 0, 0), extent (1, 1, 1).
    GlBoundingBox();

    void draw() override;
    GlVector center() const override { return m_center; }
    GlVector extent() const override { return m_extent; }
    void setCenter(const GlVector& center) { m_center = center; }
    /// Full edge lengths.
    void setExtent(const GlVector& extent) { m_extent = extent; }

protected:
    GlVector m_center{0.0, 0.0, 0.0};
    GlVector m_extent{1.0, 1.0, 1.0};
};

/// The box of the reconstruction volume. The three edges that meet at P3
/// (the corner of smallest x and z and largest y) are drawn thick in red (x),
/// green (y) and blue (z), together with the edge P1-P2; the rest thin in the
/// annotation colour.
///
/// Moving the box moves the volume: setMatrix() also makes the matrix the
/// volume pose of the parameters, which refuse it while they are locked
/// (the box moves all the same) and otherwise tell their listeners, in the
/// calling thread, before setMatrix() returns. The box must not outlive the
/// parameters.
class GlVolumeBoundingBox : public GlBoundingBox {
public:
    /// Centre (0, 0, 0), extent (1000, 1000, 1000).
    explicit GlVolumeBoundingBox(ReconstructionParameters* parameters);

    void draw() override;
    void setMatrix(const GlMatrix& matrix) override;

private:
    ReconstructionParameters* m_parameters;
};

}  // namespace Veltrane
