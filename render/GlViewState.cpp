#include "render/GlViewState.h"

#include <GL/glew.h>

#include <Eigen/Dense>

#include <cmath>

namespace Veltrane {
namespace {

constexpr std::array<double, 16> kIdentity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

using ConstMatrixMap = Eigen::Map<const Eigen::Matrix4d>;

std::array<double, 16> perspectiveMatrix(double fovyDegrees, double aspect, double zNear,
                                         double zFar)
{
    const double f = 1.0 / std::tan(fovyDegrees * M_PI / 180.0 * 0.5);
    std::array<double, 16> m{};
    m[0] = f / aspect;
    m[5] = f;
    m[10] = (zNear + zFar) / (zNear - zFar);
    m[11] = -1.0;
    m[14] = 2.0 * zFar * zNear / (zNear - zFar);
    return m;
}

}  // namespace

GlViewState::GlViewState(bool captureNow)
    : viewport{0, 0, 1, 1}, projection(kIdentity), modelview(kIdentity)
{
    if (captureNow)
        capture();
}

void GlViewState::capture()
{
    glGetIntegerv(GL_VIEWPORT, viewport.data());
    glGetDoublev(GL_PROJECTION_MATRIX, projection.data());
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview.data());
}

void GlViewState::apply() const
{
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(projection.data());
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(modelview.data());
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
}

bool GlViewState::project(const double object[3], double window[3]) const
{
    const Eigen::Vector4d v = ConstMatrixMap(projection.data()) * ConstMatrixMap(modelview.data()) *
                              Eigen::Vector4d(object[0], object[1], object[2], 1.0);
    if (v.w() == 0.0)
        return false;
    const Eigen::Vector4d n = v / v.w();
    window[0] = viewport[0] + viewport[2] * (n.x() * 0.5 + 0.5);
    window[1] = viewport[1] + viewport[3] * (n.y() * 0.5 + 0.5);
    window[2] = n.z() * 0.5 + 0.5;
    return true;
}

bool GlViewState::unproject(const double window[3], double object[3]) const
{
    const Eigen::Matrix4d inverse =
        (ConstMatrixMap(projection.data()) * ConstMatrixMap(modelview.data())).inverse();
    const Eigen::Vector4d n((window[0] - viewport[0]) / viewport[2] * 2.0 - 1.0,
                            (window[1] - viewport[1]) / viewport[3] * 2.0 - 1.0,
                            window[2] * 2.0 - 1.0, 1.0);
    const Eigen::Vector4d r = inverse * n;
    if (r.w() == 0.0)
        return false;
    for (int i = 0; i < 3; ++i)
        object[i] = r[i] / r.w();
    return true;
}

void glPerspective(double fovyDegrees, double aspect, double zNear, double zFar)
{
    glMultMatrixd(perspectiveMatrix(fovyDegrees, aspect, zNear, zFar).data());
}

}  // namespace Veltrane
