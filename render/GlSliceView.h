#pragma once

#include "render/GlView.h"

#include <array>
#include <memory>
#include <string>

namespace Veltrane {

class GlSlice;
class SharedImage;

/// The view of a 2-D image view: one `GlSlice` filling the viewport in an
/// orthographic projection, scaled so that the whole focus image fits, with
/// a zoom factor, optionally mirrored vertically. It draws the slice image,
/// the lines where the slices of linked slice views cross it, the view's
/// objects, and a read-out of the hovered voxel (position and value) in the
/// viewport's lower-left corner.
///
/// The view's matrix is the slice's plane matrix. `zoom` scales the visible
/// area: the slice rectangle's half extents are the view size times
/// `scale` * 0.5 * `zoom`, so a larger zoom shows more of the world.
class GlSliceView : public GlView {
public:
    /// Shows `slice` (owned), or without one a new slice of the standard
    /// plane `orientation` (1, 2, or 0 for any other value).
    explicit GlSliceView(int orientation, GlSlice* slice = nullptr);
    ~GlSliceView() override;

    /// Draws the slice as it is.
    void draw() override;
    /// Moves the slice's plane.
    void setMatrix(const GlMatrix& matrix) override;
    const GlMatrix& matrix() const override;

    /// Fits and draws; false, drawing nothing, without a focus image, when
    /// its texture cannot be made, or while the view has no size.
    bool render() override;
    /// 1 when the focus image is a volume, else 0 (also without an image).
    int kind() const override;
    /// Stores the size and fits the slice rectangle to it.
    void resize(int width, int height) override;
    /// Puts back the standard plane that faces the current plane's dominant
    /// axis, through the origin, with linear interpolation and blend factor
    /// 0.5. The next render() sets its extents.
    void resetOrientation() override;

    GlSlice* slice() const { return m_slice.get(); }

    /// World units per view pixel at which the whole focus image fits, as
    /// the last render() found it.
    double scale() const { return m_scale; }
    void setScale(double scale);
    double zoom() const { return m_zoom; }
    void setZoom(double zoom);
    /// One image pixel per view pixel, the image centred (x and y of the
    /// plane's centre 0). Nothing without a focus image.
    void setPixelZoom();
    /// Whether the view is as setPixelZoom() leaves it; true without a focus
    /// image.
    bool isPixelZoom() const;

    /// Takes the voxel drawn at the centre of window pixel (x, y) (y upwards)
    /// as the hovered one, through the matrices of the last render(); true
    /// when the hovered voxel changed (also when the mouse left the image).
    /// A 2-D image is hovered wherever the plane lies: only x and y count.
    bool updatePixel(int x, int y);
    /// The hovered voxel, or (-1, -1, -1).
    const std::array<int, 3>& pixel() const { return m_pixel; }
    /// What the read-out shows for the hovered voxel: "X=.. Y=.." (and
    /// " Z=.." for a volume), followed by " I=" and the intensities of its
    /// channels from the memory copy, or " G=" and the texture values when
    /// there is only an OpenGL copy. Empty while no voxel is hovered. Reading
    /// texture values needs the OpenGL context current.
    std::string readout() const;

    bool flip = false;  ///< mirror the picture vertically

private:
    /// The focus element of the slice's image set, or null.
    SharedImage* focus() const;
    /// Sets the slice rectangle's half extents from the view size, scale
    /// and zoom.
    void fitExtents();
    /// The view matrices: orthographic over the slice rectangle, looking at
    /// the plane.
    void loadMatrices() const;
    void drawReadout() const;

    std::unique_ptr<GlSlice> m_slice;
    double m_scale = 1.0;
    double m_zoom = 1.0;
    std::array<int, 3> m_pixel{-1, -1, -1};
};

}  // namespace Veltrane
