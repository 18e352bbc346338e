#pragma once

#include "render/GlObject.h"

#include <array>
#include <string>

namespace Veltrane {

/// An RGB colour, each component from 0 to 1.
using GlColor = std::array<double, 3>;

/// A drawable with display properties. Every draw of this family draws
/// nothing while the object is invisible; the colour is the line colour of
/// boxes and the material colour of meshes. The flags, the second colour, the
/// line width and the name are kept for the object's users; drawing does not
/// read them.
class GlAnnotation : public GlObject {
public:
    void setVisible(bool visible) { m_visible = visible; }
    bool visible() const { return m_visible; }
    void setFlag1(bool flag) { m_flag1 = flag; }
    bool flag1() const { return m_flag1; }
    void setColor(const GlColor& color) { m_color = color; }
    GlColor color() const { return m_color; }
    void setLineWidth(float width) { m_lineWidth = width; }
    float lineWidth() const { return m_lineWidth; }
    void setFlag2(bool flag) { m_flag2 = flag; }
    bool flag2() const { return m_flag2; }
    void setColor2(const GlColor& color) { m_color2 = color; }
    GlColor color2() const { return m_color2; }
    void setName(const std::string& name) { m_name = name; }
    std::string name() const { return m_name; }

private:
    bool m_visible = true;
    bool m_flag1 = true;
    GlColor m_color{1.0, 1.0, 0.0};
    float m_lineWidth = 1.0f;
    bool m_flag2 = true;
    GlColor m_color2{0.0, 1.0, 1.0};
    std::string m_name;
};

/// An annotation that occupies a box in its own coordinates, which
/// manipulators place their handles on.
class Gl3DObject : public GlAnnotation {
public:
    /// Centre of the box, in object coordinates.
    virtual GlVector center() const = 0;
    /// Edge lengths of the box.
    virtual GlVector extent() const = 0;
};

}  // namespace Veltrane
