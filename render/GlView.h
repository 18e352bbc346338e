#pragma once

#include "render/GlObject.h"
#include "render/GlViewState.h"

#include <vector>

namespace Veltrane {

/// The scene of one interactive view: renders a whole view into the viewport
/// that the interactive view has set, then the objects added to it.
///
/// The view's matrix is the inverse of the camera pose: the 3-D views load
/// its inverse, turned half about the x axis (camera y down and z forward
/// become OpenGL's y up and z backward), as the modelview matrix.
class GlView : public GlObject {
public:
    GlView() = default;
    ~GlView() override = default;

    /// A view draws itself through render(), not as an object.
    void draw() override {}
    /// Called once, with the context current, before the first render().
    virtual void initializeGl() {}
    /// Called with the context current before the view is deleted.
    virtual void releaseGl() {}
    /// Draws the view; false when there was nothing to draw.
    virtual bool render() = 0;
    /// 2 for the 3-D views.
    virtual int kind() const = 0;
    /// Stores the drawable size.
    virtual void resize(int width, int height);
    virtual void resetOrientation() {}

    /// Appends `object` (not owned) unless it is null or already there.
    void addObject(GlObject* object);
    /// Removes `object` when it is there, keeping the order of the others.
    void removeObject(GlObject* object);
    const std::vector<GlObject*>& objects() const { return m_objects; }

    /// The other views of the view's group.
    std::vector<GlView*>& linkedViews() { return m_linkedViews; }
    const std::vector<GlView*>& linkedViews() const { return m_linkedViews; }

    int width() const { return m_width; }
    int height() const { return m_height; }
    /// Viewport and matrices as the last render() set them for its objects,
    /// for picking and projecting.
    const GlViewState& viewState() const { return m_viewState; }

protected:
    /// The grey gradient behind the 3-D views, lighter at the bottom. Leaves
    /// the matrices and the depth buffer as they were.
    static void drawBackground();
    /// Loads the perspective projection of `fovyDegrees` and `aspect` and the
    /// view's camera as the modelview matrix; leaves GL_MODELVIEW current.
    void loadCamera(double fovyDegrees, double aspect) const;

    std::vector<GlView*> m_linkedViews;
    std::vector<GlObject*> m_objects;
    int m_width = 0;
    int m_height = 0;
    GlViewState m_viewState{false};
};

}  // namespace Veltrane
