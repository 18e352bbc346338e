#include "render/GlSlice.h"

#include "core/GlImage.h"
#include "core/Logging.h"
#include "core/SharedImageSet.h"
#include "render/GlBuffer.h"
#include "render/GlProgram.h"
#include "render/GlStateScopes.h"
#include "render/GlTextureParameters.h"

#include <GL/glew.h>

#include <Eigen/Core>

#include <algorithm>
#include <cmath>
#include <string>

namespace Veltrane {
namespace {

std::string sliceDefines(const GlImage& image, int interpolation, bool masked)
{
    std::string defines;
    if (image.slices >= 2)
        defines += "#define SLICE3D\n";
    else if (image.height < 2)
        defines += "#define SLICE1D\n";
    if (interpolation > 1)
        defines += "#define CUBIC\n";
    if (masked)
        defines += "#define MASK\n";
    return defines;
}

bool selects(const Selection& selection, int index)
{
    return index >= selection.first && index <= selection.last &&
           (index - selection.first) % (std::max(selection.skip, 0) + 1) == 0;
}

Eigen::Vector3d toEigen(const GlVector& v)
{
    return {v[0], v[1], v[2]};
}

}  // namespace

GlSlice::GlSlice(const SlicePlane& plane) : m_extents(plane.extents)
{
    m_matrix = plane.matrix;
}

GlSlice::~GlSlice() = default;

void GlSlice::setPlane(const SlicePlane& plane)
{
    m_matrix = plane.matrix;
    m_extents = plane.extents;
}

SlicePlane GlSlice::plane() const
{
    return SlicePlane(m_matrix, m_extents[0], m_extents[1]);
}

void GlSlice::setProgram(std::unique_ptr<GlProgram> program)
{
    m_program = std::move(program);
}

void GlSlice::setUseShader(bool useShader)
{
    m_useShader = useShader;
    if (!useShader)
        m_program.reset();
}

void GlSlice::setInterpolation(int interpolation)
{
    m_interpolation = std::clamp(interpolation, 0, 2);
}

void GlSlice::setBlendFactor(double factor)
{
    m_blendFactor = factor > 0.0 ? std::min(factor, 1.0) : 0.0;
}

void GlSlice::draw()
{
    if (!showOutline && !showImage)
        return;
    GlImage* image = images()->glPointer(-1);
    if (!image)
        return;
    m_vertices = plane().corners();
    const GlAttributeScope arrays(0, GL_CLIENT_VERTEX_ARRAY_BIT);
    GlBuffer::unbind();
    glClientActiveTexture(GL_TEXTURE0);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(4, GL_DOUBLE, 0, m_vertices.data());
    glTexCoordPointer(4, GL_DOUBLE, 0, m_texCoords.data());
    if (showImage)
        drawImage(image);
    if (showOutline) {
        applyAxisColor();
        glDrawArrays(GL_LINE_LOOP, 0, 4);
    }
}

std::unique_ptr<GlProgram> GlSlice::createProgram(const std::string& defines) const
{
    return std::make_unique<GlProgram>("SliceView", nullptr, nullptr, defines.c_str());
}

void GlSlice::prepareProgram(const GlImage& image)
{
    const std::string defines = sliceDefines(image, m_interpolation, mask != nullptr);
    try {
        if (m_program)
            m_program->setDefines(defines);
        else
            m_program = createProgram(defines);
    } catch (const std::exception& error) {
        VELTRANE_WARN("Slice: drawing without its program (" << error.what() << ")");
        m_program.reset();
        m_useShader = false;
    }
}

void GlSlice::drawImage(GlImage* image)
{
    const GlAttributeScope attributes(
        GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT, 0);
    if (m_useShader)
        prepareProgram(*image);
    const bool shaded = m_useShader && m_program;
    const int unit = shaded ? m_program->textureCount() : 0;
    if (shaded) {
        GlProgram& program = *m_program;
        program.bind();
        program.setUniformInt("img", unit);
        if (mask)
            program.setUniformInt("mask", unit + 1);
        program.setUniformFloat("shift", static_cast<float>(0.5 - level / window));
        program.setUniformFloat("scale", static_cast<float>(1.0 / window));
        program.setUniformFloat("gamma", static_cast<float>(gamma));
        const float size[3] = {static_cast<float>(image->width), static_cast<float>(image->height),
                               static_cast<float>(image->slices)};
        program.setUniformVec3("imgDim", size);
        const float tint[4] = {blend ? 0.0f : 1.0f, blend ? 0.8f : 1.0f, 1.0f, 1.0f};
        program.setUniformVec4("blendColor", tint);
        program.setUniformInt("useColormap", colormap ? 1 : 0);
        // Without a colour map the sampler points at a unit of its own, as
        // samplers of different types must not share one.
        program.setUniformInt("colormap", unit + (colormap ? 1 : 2) + (mask ? 1 : 0));
    } else {
        image->bind(0);
        glEnable(image->target());
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    }
    int next = unit + 1;
    if (mask)
        mask->bind(next++);
    if (colormap) {
        colormap->bind(next);
        setTextureParameters(colormap->target(), GL_LINEAR, GL_CLAMP_TO_EDGE);
    }
    drawQuad(image, -1, unit);
    if (blendSelection)
        drawSelection(unit);
    if (colormap)
        colormap->unbind();
    if (mask)
        mask->unbind();
    image->unbind();
    if (shaded) {
        m_program->unbind();
        m_program->releaseTextures();
    }
}

void GlSlice::drawSelection(int unit)
{
    const SharedImageSet& set = *images();
    const Selection& selection = set.selection();
    const int others = selection.size() - (selects(selection, selection.focus) ? 1 : 0);
    if (others <= 0)
        return;
    if (blend && m_useShader && m_program) {
        const float tint[4] = {1.0f, 0.2f, 0.0f, 1.0f};
        m_program->setUniformVec4("blendColor", tint);
    }
    glEnable(GL_BLEND);
    glBlendColor(1.0f, 1.0f, 1.0f, static_cast<float>(m_blendFactor));
    glBlendFunc(GL_CONSTANT_ALPHA, GL_ONE_MINUS_CONSTANT_ALPHA);
    // The blended quads lie exactly on the focus image's.
    glDepthFunc(GL_LEQUAL);
    const int step = std::max(selection.skip, 0) + 1;
    for (int i = selection.first; i <= selection.last && i < set.size(); i += step) {
        if (i < 0 || i == selection.focus)
            continue;
        if (GlImage* other = set.glPointer(i))
            drawQuad(other, i, unit);
    }
    glDisable(GL_BLEND);
}

void GlSlice::drawQuad(GlImage* image, int index, int unit)
{
    const Eigen::Matrix4d toImage =
        image->slices >= 2 ? images()->matrix(index) : Eigen::Matrix4d::Identity();
    const double extent[3] = {image->width * image->spacing[0], image->height * image->spacing[1],
                              image->slices * image->spacing[2]};
    for (std::size_t corner = 0; corner < m_vertices.size(); ++corner) {
        const Eigen::Vector4d p =
            toImage * Eigen::Map<const Eigen::Vector4d>(m_vertices[corner].data());
        for (int k = 0; k < 3; ++k)
            m_texCoords[corner][k] = p[k] / extent[k] + 0.5;
        m_texCoords[corner][3] = p[3];
    }
    image->bind(unit);
    const GlTextureParameterGuard parameters(
        image->target(), m_interpolation == 0 ? GL_NEAREST : GL_LINEAR, GL_CLAMP_TO_BORDER);
    glDrawArrays(GL_QUADS, 0, 4);
}

int GlSlice::moveSlice(int steps)
{
    SlicePlane moved = plane();
    const Eigen::Vector3d normal = toEigen(moved.normal());
    const Eigen::Vector3d centre = toEigen(moved.centre());
    const auto moveBy = [&](double distance) {
        const Eigen::Vector3d to = centre + distance * normal;
        moved.setCentre({to.x(), to.y(), to.z()});
        setPlane(moved);
    };
    const GlImage* image = images()->glPointer(-1);
    if (!image) {
        moveBy(steps * m_extents[0] * 0.01);
        return 0;
    }
    if (image->slices <= 1)
        return 0;

    // The plane's centre and normal in the volume's frame, where the volume
    // is centred at the origin.
    const Eigen::Matrix4d toImage = images()->matrix(-1);
    const Eigen::Vector3d imageNormal = toImage.topLeftCorner<3, 3>() * normal;
    const double stretch = imageNormal.norm();
    if (stretch <= 0.0)
        return 0;
    const Eigen::Vector3d unitNormal = imageNormal / stretch;
    const Eigen::Vector3d imageCentre =
        toImage.topLeftCorner<3, 3>() * centre + toImage.topRightCorner<3, 1>();
    const int axis = dominantAxis({unitNormal.x(), unitNormal.y(), unitNormal.z()});
    const int sizes[3] = {image->width, image->height, image->slices};
    const int count = sizes[axis];
    const double spacing = image->spacing[static_cast<std::size_t>(axis)];

    const double current = imageCentre.dot(unitNormal) / spacing + count * 0.5 - 0.5;
    const double wanted = std::floor(steps + current + 0.5);
    const int index = wanted > 0.0 ? static_cast<int>(std::min<double>(wanted, count - 1)) : 0;
    moveBy((index - current) * spacing / stretch);
    return index;
}

bool GlSlice::drawIntersection(const GlSlice& other) const
{
    double p0[3];
    double p1[3];
    if (!plane().intersect(other.plane(), p0, p1))
        return false;
    other.applyAxisColor();
    glBegin(GL_LINES);
    glVertex3dv(p0);
    glVertex3dv(p1);
    glEnd();
    return true;
}

int GlSlice::applyAxisColor() const
{
    static constexpr double colors[3][3] = {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}};
    const int axis = plane().dominantAxis();
    glColor3dv(colors[axis]);
    return axis;
}

}  // namespace Veltrane
