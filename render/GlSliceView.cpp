#include "render/GlSliceView.h"

#include "core/GlImage.h"
#include "core/Logging.h"
#include "core/MemImage.h"
#include "core/SharedImage.h"
#include "core/SharedImageSet.h"
#include "render/GlSlice.h"
#include "render/GlStateScopes.h"
#include "render/GlTextRenderer.h"
#include "render/GlTexelReader.h"

#include <GL/glew.h>

#include <Eigen/Geometry>
#include <Eigen/LU>

#include <cmath>
#include <sstream>

namespace Veltrane {
namespace {

constexpr std::array<int, 3> kNoPixel{-1, -1, -1};

/// Channel `channel` of a texel as the texel reader returns it: two-channel
/// textures keep their second channel in alpha.
float texelChannel(const std::array<float, 4>& texel, int channels, int channel)
{
    return channels == 2 && channel == 1 ? texel[3] : texel[static_cast<std::size_t>(channel)];
}

}  // namespace

GlSliceView::GlSliceView(int orientation, GlSlice* slice)
    : m_slice(slice ? slice : new GlSlice(SlicePlane(orientation)))
{
}

GlSliceView::~GlSliceView() = default;

void GlSliceView::draw()
{
    m_slice->draw();
}

void GlSliceView::setMatrix(const GlMatrix& matrix)
{
    m_slice->setMatrix(matrix);
}

const GlMatrix& GlSliceView::matrix() const
{
    return m_slice->matrix();
}

SharedImage* GlSliceView::focus() const
{
    return m_slice->images()->get(-1);
}

int GlSliceView::kind() const
{
    const SharedImage* element = focus();
    return element && element->slices() >= 2 ? 1 : 0;
}

void GlSliceView::resize(int width, int height)
{
    GlView::resize(width, height);
    fitExtents();
}

void GlSliceView::setScale(double scale)
{
    m_scale = scale;
    fitExtents();
}

void GlSliceView::setZoom(double zoom)
{
    m_zoom = zoom;
    fitExtents();
}

void GlSliceView::fitExtents()
{
    SlicePlane plane = m_slice->plane();
    plane.extents = {m_width * m_scale * 0.5 * m_zoom, m_height * m_scale * 0.5 * m_zoom};
    m_slice->setPlane(plane);
}

void GlSliceView::setPixelZoom()
{
    const SharedImage* element = focus();
    if (!element || !element->image())
        return;
    m_zoom = element->spacing()[0] / m_scale;
    fitExtents();
    SlicePlane plane = m_slice->plane();
    plane.setCentre({0.0, 0.0, plane.centre()[2]});
    m_slice->setPlane(plane);
}

bool GlSliceView::isPixelZoom() const
{
    const SharedImage* element = focus();
    if (!element || !element->image())
        return true;
    const GlVector centre = m_slice->plane().centre();
    return m_zoom == element->spacing()[0] / m_scale && centre[0] == 0.0 && centre[1] == 0.0;
}

void GlSliceView::resetOrientation()
{
    static constexpr int orientationFacing[3] = {1, 2, 0};
    m_slice->setPlane(SlicePlane(orientationFacing[m_slice->plane().dominantAxis()]));
    m_slice->setInterpolation(1);
    m_slice->setBlendFactor(0.5);
}

bool GlSliceView::render()
{
    SharedImage* element = focus();
    if (!element || m_width <= 0 || m_height <= 0)
        return false;
    GlImage* image = nullptr;
    try {
        image = element->gl();
    } catch (const std::exception& error) {
        VELTRANE_ERROR("Slice view: the image cannot be shown (" << error.what() << ")");
        return false;
    }
    if (!image)
        return false;
    const double sx = image->width * image->spacing[0] / m_width;
    const double sy = image->height * image->spacing[1] / m_height;
    m_scale = sy > sx ? sy : sx;
    fitExtents();
    const auto& extents = m_slice->extents();
    if (!(extents[0] > 0.0 && extents[1] > 0.0))
        return false;

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    loadMatrices();
    m_viewState.capture();

    const bool showOutline = m_slice->showOutline;
    const bool showImage = m_slice->showImage;
    m_slice->showOutline = false;
    m_slice->showImage = true;
    m_slice->draw();
    m_slice->showOutline = showOutline;
    m_slice->showImage = showImage;

    for (const GlView* view : m_linkedViews)
        if (const auto* other = dynamic_cast<const GlSliceView*>(view))
            m_slice->drawIntersection(*other->slice());
    for (GlObject* object : m_objects)
        object->draw();
    drawReadout();

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    return true;
}

void GlSliceView::loadMatrices() const
{
    const auto& extents = m_slice->extents();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-extents[0], extents[0], -extents[1], extents[1], -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (flip)
        glRotated(180.0, 1.0, 0.0, 0.0);
    const Eigen::Matrix4d toPlane =
        Eigen::Map<const Eigen::Matrix4d>(m_slice->matrix().data()).inverse();
    glMultMatrixd(toPlane.data());
}

bool GlSliceView::updatePixel(int x, int y)
{
    const SharedImage* element = focus();
    // The element drawn at the pixel's centre.
    const double window[3] = {x + 0.5, y + 0.5, 0.5};
    double world[3];
    if (element && element->image() && m_viewState.unproject(window, world)) {
        Eigen::Vector3d p(world[0], world[1], world[2]);
        const bool volume = element->slices() >= 2;
        if (volume)
            p = (element->matrix() * p.homogeneous()).head<3>();
        const int sizes[3] = {element->width(), element->height(), element->slices()};
        const double* spacing = element->spacing();
        std::array<int, 3> voxel{0, 0, 0};
        bool inside = true;
        // A 2-D image is drawn with its x and y alone, wherever the plane is.
        for (int k = 0; k < (volume ? 3 : 2); ++k) {
            const double index = std::floor(p[k] / spacing[k] + sizes[k] * 0.5);
            inside = inside && index >= 0.0 && index < sizes[k];
            voxel[static_cast<std::size_t>(k)] = inside ? static_cast<int>(index) : -1;
        }
        if (inside) {
            if (voxel == m_pixel)
                return false;
            m_pixel = voxel;
            return true;
        }
    }
    if (m_pixel == kNoPixel)
        return false;
    m_pixel = kNoPixel;
    return true;
}

std::string GlSliceView::readout() const
{
    SharedImage* element = focus();
    if (m_pixel[0] < 0 || !element)
        return {};
    const auto [x, y, z] = m_pixel;
    std::ostringstream text;
    text.precision(5);
    text << "X=" << x << " Y=" << y;
    if (element->slices() >= 2)
        text << " Z=" << z;
    const MemImage* memory = element->memPointer();
    if (memory && x < memory->width && y < memory->height && z < memory->slices) {
        const int channels = memory->channels;
        const std::size_t first =
            ((static_cast<std::size_t>(z) * memory->height + y) * memory->width + x) * channels;
        text << " I=";
        for (int c = 0; c < channels; ++c)
            text << (c ? "," : "") << memory->value(first + c) / memory->scale - memory->shift;
    } else if (GlImage* texture = element->glPointer()) {
        try {
            const std::array<float, 4> texel = GlTexelReader::instance().read(texture, x, y, z);
            text << " G=";
            for (int c = 0; c < texture->channels; ++c)
                text << (c ? "," : "") << texelChannel(texel, texture->channels, c);
        } catch (const std::exception& error) {
            VELTRANE_ERROR("Slice view: the texel cannot be read (" << error.what() << ")");
        }
    }
    return text.str();
}

void GlSliceView::drawReadout() const
{
    const std::string text = readout();
    if (text.empty())
        return;
    const GlAttributeScope colour(GL_CURRENT_BIT, 0);
    glColor3d(0.0, 0.69, 0.86);
    const TextFont font{"Tahoma", 8};
    const int* viewport = m_viewState.viewport.data();
    GlTextRenderer::instance().drawText(viewport[0] + 8, viewport[1] + 8, text.c_str(), font, 0, 2);
}

}  // namespace Veltrane
