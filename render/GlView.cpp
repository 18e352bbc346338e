#include "render/GlView.h"

#include <GL/glew.h>

#include <Eigen/LU>

#include <algorithm>

namespace Veltrane {

void GlView::resize(int width, int height)
{
    m_width = width;
    m_height = height;
}

void GlView::addObject(GlObject* object)
{
    if (object && std::find(m_objects.begin(), m_objects.end(), object) == m_objects.end())
        m_objects.push_back(object);
}

void GlView::removeObject(GlObject* object)
{
    const auto found = std::find(m_objects.begin(), m_objects.end(), object);
    if (object && found != m_objects.end())
        m_objects.erase(found);
}

void GlView::drawBackground()
{
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, 1.0, 0.0, 1.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glBegin(GL_QUADS);
    glColor3ub(95, 95, 95);
    glVertex2d(0.0, 0.0);
    glVertex2d(1.0, 0.0);
    glColor3ub(55, 55, 55);
    glVertex2d(1.0, 1.0);
    glVertex2d(0.0, 1.0);
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}

void GlView::loadCamera(double fovyDegrees, double aspect) const
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glPerspective(fovyDegrees, aspect, 10.0, 100000.0);
    glMatrixMode(GL_MODELVIEW);
    const Eigen::Matrix4d camera = Eigen::Map<const Eigen::Matrix4d>(m_matrix.data()).inverse();
    glLoadMatrixd(camera.data());
    glRotated(180.0, 1.0, 0.0, 0.0);
}

}  // namespace Veltrane
