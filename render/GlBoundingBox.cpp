#include "render/GlBoundingBox.h"

#include "reconstruction/ReconstructionParameters.h"

#include <GL/glew.h>

#include <initializer_list>
#include <utility>

namespace Veltrane {
namespace {

using Edge = std::pair<int, int>;

/// Emits `edges` (corner indices, P1 = 0) as one batch of lines.
void drawEdges(const std::array<GlVector, 8>& corners, std::initializer_list<Edge> edges)
{
    glBegin(GL_LINES);
    for (const auto& [from, to] : edges) {
        glVertex3dv(corners[from].data());
        glVertex3dv(corners[to].data());
    }
    glEnd();
}

}  // namespace

std::array<GlVector, 8> boxCorners(const GlVector& center, const GlVector& extent)
{
    static constexpr int signs[8][3] = {{1, 1, 1},   {-1, 1, 1},   {-1, 1, -1},  {1, 1, -1},
                                        {1, -1, 1},  {-1, -1, 1},  {-1, -1, -1}, {1, -1, -1}};
    std::array<GlVector, 8> corners;
    for (int k = 0; k < 8; ++k)
        for (int axis = 0; axis < 3; ++axis)
            corners[k][axis] = center[axis] + signs[k][axis] * extent[axis] * 0.5;
    return corners;
}

GlBoundingBox::GlBoundingBox() = default;

void GlBoundingBox::draw()
{
    if (!visible())
        return;
    const GlModelMatrixScope model(m_matrix);
    glColor3dv(color().data());
    drawEdges(boxCorners(m_center, m_extent), {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                                                {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}});
}

GlVolumeBoundingBox::GlVolumeBoundingBox(ReconstructionParameters* parameters)
    : m_parameters(parameters)
{
    m_extent = {1000.0, 1000.0, 1000.0};
}

void GlVolumeBoundingBox::draw()
{
    if (!visible())
        return;
    const GlModelMatrixScope model(m_matrix);
    const auto corners = boxCorners(m_center, m_extent);
    const GlColor colour = color();
    glPushAttrib(GL_LINE_BIT);
    glLineWidth(2.0f);
    glBegin(GL_LINES);
    const std::pair<Edge, GlColor> axes[] = {
        {{1, 2}, {0.0, 0.0, 1.0}},  // z
        {{2, 3}, {1.0, 0.0, 0.0}},  // x
        {{2, 6}, {0.0, 1.0, 0.0}},  // y
        {{0, 1}, colour},
    };
    for (const auto& [edge, edgeColour] : axes) {
        glColor3dv(edgeColour.data());
        glVertex3dv(corners[edge.first].data());
        glVertex3dv(corners[edge.second].data());
    }
    glEnd();
    glLineWidth(1.0f);
    glColor3dv(colour.data());
    drawEdges(corners, {{3, 0}, {4, 5}, {5, 6}, {6, 7}, {7, 4}, {0, 4}, {1, 5}, {3, 7}});
    glPopAttrib();
}

void GlVolumeBoundingBox::setMatrix(const GlMatrix& matrix)
{
    GlBoundingBox::setMatrix(matrix);
    m_parameters->setVolumePose(matrix);
}

}  // namespace Veltrane
