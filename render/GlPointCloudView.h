#pragma once

#include "render/GlBuffer.h"
#include "render/GlView.h"

#include <array>
#include <memory>
#include <mutex>

namespace Veltrane {

class GlImage;
class GlProgram;
class MemImage;

/// The 3-D view of the live depth frame: one point per depth pixel, placed in
/// camera coordinates by the camera intrinsics, in perspective (25 degrees
/// vertically) over a grey gradient, followed by the view's objects (the
/// volume box and its manipulator).
///
/// Points are coloured from the colour frame when one came with the depth
/// frame, and by their depth otherwise. Points inside the reconstruction
/// volume (the box of `setVolumeSize` placed by `setVolumeTransform`, within
/// the depth range `volMinDepth` ... `volMaxDepth`) are drawn bright, the
/// others dimmed; pixels without depth are left out.
///
/// Frames may be handed over from any thread; rendering happens in the user
/// interface thread with the context current, and uploads a new frame to the
/// textures once, on the first render after it arrived.
class GlPointCloudView : public GlView {
public:
    /// Builds the point-cloud program; throws std::runtime_error when it
    /// cannot be built.
    GlPointCloudView();
    ~GlPointCloudView() override;

    /// Draws the last frame; false, drawing nothing at all, before the first
    /// frame, after clearFrame(), or when the frame cannot be prepared
    /// (logged; the next render tries again). The view state is captured
    /// either way.
    bool render() override;
    int kind() const override { return 2; }
    /// Stores the size and takes width / height as the aspect ratio when
    /// neither is 0.
    void resize(int width, int height) override;

    /// Copies the depth frame (one channel of unsigned short, millimetres)
    /// and, when not null, the colour frame (RGB bytes of the same size)
    /// together with the 3x3 camera matrix `K` (column-major: fx, fy on the
    /// diagonal, cx, cy in the third column). A frame without colour is
    /// drawn coloured by depth.
    void setFrame(const MemImage* depth, const MemImage* color, const float K[9]);
    /// Drops the held frame; nothing is drawn until the next setFrame().
    void clearFrame();

    /// Edge lengths of the reconstruction volume in millimetres.
    void setVolumeSize(const float size[3]);
    /// The rigid transform from volume coordinates (origin at the volume's
    /// centre) to camera coordinates, column-major.
    void setVolumeTransform(const float transform[16]);

    double aspect() const { return m_aspect; }
    /// Size of the per-pixel grid the vertex buffers were built for.
    int gridWidth() const { return m_gridWidth; }
    int gridHeight() const { return m_gridHeight; }

    /// Depth range of the volume in millimetres / 65535 (the unit of a 16-bit
    /// depth texture read as normalised values).
    float volMinDepth = 0.0f;
    float volMaxDepth = 0.0f;

private:
    /// Brings the textures, the inverse camera matrix and the grid up to the
    /// pending frame; called under the lock.
    bool uploadFrame();
    bool buildGrid(int width, int height);
    /// Background, points and objects, with the camera loaded.
    void drawFrame();
    void drawPoints();

    double m_aspect = 1.0;
    std::unique_ptr<GlProgram> m_program;
    std::unique_ptr<GlImage> m_depthTexture;
    std::unique_ptr<GlImage> m_colorTexture;
    GlBuffer m_positionBuffer;
    GlBuffer m_texCoordBuffer;
    int m_gridWidth = 0;
    int m_gridHeight = 0;
    std::array<float, 9> m_invK{1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::array<float, 3> m_volSize{0.0f, 0.0f, 0.0f};
    std::array<float, 16> m_T{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    /// The uploaded colour texture belongs to the uploaded depth frame.
    bool m_drawColor = false;

    /// Guards the members below, which setFrame() and clearFrame() write.
    std::mutex m_mutex;
    std::unique_ptr<MemImage> m_depthFrame;
    std::unique_ptr<MemImage> m_colorFrame;
    std::array<float, 9> m_K{1, 0, 0, 0, 1, 0, 0, 0, 1};
    bool m_hasColor = false;
    bool m_newData = false;
};

}  // namespace Veltrane
