#pragma once

#include "render/GlView.h"

#include <memory>

namespace Veltrane {

class GlBoundingBox;
class GlMesh;
class GlProgram;

/// The 3-D view of the reconstructed mesh: the mesh in perspective (60
/// degrees vertically) over a grey gradient, an optional ground grid under
/// it, and previews of the crop and clean tools.
///
/// In crop mode the mesh is drawn through the crop preview, which marks
/// what lies outside the crop box, and the box is drawn after it; outside
/// crop mode the box is never drawn. The clean preview marks the pieces whose
/// relative area (each vertex's first texture coordinate) is at most
/// `minConnected` or above `maxConnected`; it takes precedence over crop mode.
///
/// The mesh object and the crop box belong to the view (they are the first
/// two of its objects); other objects are drawn after them.
class GlMeshView : public GlView {
public:
    /// Builds the crop and clean programs; throws std::runtime_error when one
    /// cannot be built.
    GlMeshView();
    ~GlMeshView() override;

    bool render() override;
    int kind() const override { return 2; }
    /// Takes width / height as the aspect ratio when neither is 0.
    void resize(int width, int height) override;
    /// Sets the crop box's centre and full edge lengths.
    void setCropBox(const GlVector& center, const GlVector& extent);

    double aspect() const { return m_aspect; }

    bool showGrid = false;
    bool cleanPreview = false;
    float minConnected = 0.0f;
    float maxConnected = 1.0f;
    bool cropMode = false;
    /// Draws the shown mesh: owners assign its `mesh` and call its setMesh().
    const std::unique_ptr<GlMesh> mesh;
    const std::unique_ptr<GlBoundingBox> cropBox;

private:
    void drawMesh();
    void drawGrid() const;

    double m_aspect = 1.0;
    std::unique_ptr<GlProgram> m_cropProgram;
    std::unique_ptr<GlProgram> m_cleanProgram;
};

}  // namespace Veltrane
