#pragma once

#include "render/GlImageObject.h"
#include "render/SlicePlane.h"

#include <array>
#include <memory>
#include <string>

namespace Veltrane {

class GlImage;
class GlProgram;

/// A rectangle in 3-D space (a `SlicePlane`, whose matrix is the object's
/// matrix) showing the focus image of its image set as a texture.
///
/// The image is windowed through the "SliceView" program (or another program
/// with its uniforms, such as the depth-map program): a value v is shown as
/// (v - level) / window + 0.5, gamma corrected and optionally looked up in a
/// colour map. The other selected images of the set can be blended over it.
/// Without a program (switched off, or one that cannot be built) the texture
/// is shown as it is. The slice also draws its outline in the colour of its
/// dominant axis, and the line where another slice crosses it.
///
/// Texture coordinates: a plane point p (or, for a volume, the focus
/// element's matrix times p) maps to p / extent + 0.5, extent being the
/// image's size times its spacing, so images are centred at the origin.
///
/// Drawing happens with the OpenGL context current and the view's matrices
/// loaded; it puts back the OpenGL state it changes, except the current
/// colour, which the outline sets.
class GlSlice : public GlImageObject {
public:
    explicit GlSlice(const SlicePlane& plane);
    ~GlSlice() override;

    /// Draws the image (when `showImage`) and the outline (when
    /// `showOutline`); nothing at all while the focus image has no OpenGL
    /// copy.
    void draw() override;

    virtual void setPlane(const SlicePlane& plane);
    SlicePlane plane() const;
    const std::array<double, 2>& extents() const { return m_extents; }

    /// Takes ownership of `program` (null allowed), replacing the current one.
    void setProgram(std::unique_ptr<GlProgram> program);
    GlProgram* program() const { return m_program.get(); }
    /// Switching the program off also deletes it; switching it on again
    /// builds "SliceView" on the next draw.
    void setUseShader(bool useShader);
    bool useShader() const { return m_useShader; }

    /// 0 nearest, 1 linear, 2 cubic; other values are clamped to that range.
    void setInterpolation(int interpolation);
    int interpolation() const { return m_interpolation; }
    /// Opacity of the blended selection, clamped to 0 ... 1.
    void setBlendFactor(double factor);
    double blendFactor() const { return m_blendFactor; }

    /// Moves the plane by `steps` voxels of the focus volume along its
    /// normal, measured in the volume's own frame (its element matrix), and
    /// stays inside the volume. Returns the voxel index the plane then sits
    /// on, counted along the normal; 0 for a 2-D image, which stays put.
    /// Without an OpenGL copy of the focus image the plane moves by `steps`
    /// hundredths of its first extent and 0 is returned.
    int moveSlice(int steps);

    /// Draws the segment where `other` crosses this slice, in `other`'s axis
    /// colour; false, drawing nothing, when they do not cross.
    bool drawIntersection(const GlSlice& other) const;

    /// Sets the current colour by the plane's dominant axis (x green, y blue,
    /// z red) and returns that axis.
    int applyAxisColor() const;

    double window = 1.0;  ///< width of the intensity window, in texture values 0 ... 1
    double level = 0.5;   ///< centre of the window
    double gamma = 1.0;
    bool blendSelection = true;
    bool blend = false;              ///< tint the focus and the blended images
    GlImage* colormap = nullptr;     ///< 1-D RGB texture, not owned
    GlImage* mask = nullptr;         ///< not owned
    bool showOutline = true;
    bool showImage = false;

protected:
    /// The program that draws the slice, built with `defines`: "SliceView".
    /// Throws std::runtime_error when it cannot be built.
    virtual std::unique_ptr<GlProgram> createProgram(const std::string& defines) const;

private:
    /// Builds the program or gives it the defines of `image`; on failure
    /// drops it and switches the program off.
    void prepareProgram(const GlImage& image);
    /// Binds the textures, sets the uniforms and draws the focus image
    /// `image` and the blended selection.
    void drawImage(GlImage* image);
    /// Draws the selected images other than the focus over it, each bound to
    /// texture unit `unit`.
    void drawSelection(int unit);
    /// Computes the texture coordinates of `image` (element `index` of the
    /// set) and draws the quad with it bound to `unit`, filtered by the
    /// interpolation and clamped to its border.
    void drawQuad(GlImage* image, int index, int unit);

    std::array<double, 2> m_extents;
    int m_interpolation = 1;
    double m_blendFactor = 0.5;
    bool m_useShader = true;
    std::unique_ptr<GlProgram> m_program;
    std::array<SlicePlane::Corner, 4> m_vertices{};
    std::array<SlicePlane::Corner, 4> m_texCoords{};
};

}  // namespace Veltrane
