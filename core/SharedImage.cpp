#include "core/SharedImage.h"

#include "core/ClImage.h"
#include "core/GlImage.h"
#include "core/Logging.h"
#include "core/MemImage.h"

namespace Veltrane {

SharedImage::SharedImage(Image* image, bool takeOwnership)
    : m_primaryLocation(image->location())
{
    if (m_primaryLocation == ImageLocation::None) {
        // A bare header only describes the image. It is replaced by a memory
        // image and not kept, so the shared image does not listen to it.
        m_mem = MemImage::createCompatible(image);
        if (m_mem) {
            adoptCopy(m_mem);
            m_primaryLocation = ImageLocation::Memory;
        } else {
            VELTRANE_ERROR("SharedImage: no memory image of type " << image->type);
        }
        if (takeOwnership)
            delete image;
    } else {
        setCopy(m_primaryLocation, image);
        m_owned[m_primaryLocation] = takeOwnership;
        image->addListener(this);
    }
    setMemModified();
    setGlModified();
}

SharedImage::~SharedImage()
{
    dropCopy(m_cl);
    dropCopy(m_gl);
    dropCopy(m_mem);
}

Image* SharedImage::copyAt(int location) const
{
    switch (location) {
    case ImageLocation::Memory: return m_mem;
    case ImageLocation::OpenGL: return m_gl;
    case ImageLocation::OpenCL: return m_cl;
    default: return nullptr;
    }
}

void SharedImage::setCopy(int location, Image* copy)
{
    if (location == ImageLocation::Memory)
        m_mem = static_cast<MemImage*>(copy);
    else if (location == ImageLocation::OpenGL)
        m_gl = static_cast<GlImage*>(copy);
    else if (location == ImageLocation::OpenCL)
        m_cl = static_cast<ClImage*>(copy);
}

void SharedImage::adoptCopy(Image* copy)
{
    m_owned[copy->location()] = true;
    copy->addListener(this);
}

void SharedImage::dropCopy(Image* copy)
{
    if (!copy)
        return;
    copy->removeListener(this);
    if (m_owned[copy->location()])
        delete copy;
}

int SharedImage::kind() const
{
    const Image* primary = image();
    return primary ? primary->kind() : DataKind::Empty;
}

int SharedImage::primaryField(int Image::*field) const
{
    const Image* primary = image();
    return primary ? primary->*field : 0;
}

int SharedImage::width() const
{
    return primaryField(&Image::width);
}

int SharedImage::height() const
{
    return primaryField(&Image::height);
}

int SharedImage::slices() const
{
    return primaryField(&Image::slices);
}

int SharedImage::channels() const
{
    return primaryField(&Image::channels);
}

const double* SharedImage::spacing() const
{
    const Image* primary = image();
    return primary ? primary->spacing.data() : nullptr;
}

int SharedImage::dimension() const
{
    const Image* primary = image();
    return primary ? primary->dimension() : 0;
}

std::array<double, 3> SharedImage::extent() const
{
    const Image* primary = image();
    if (!primary)
        return {0.0, 0.0, 0.0};
    return {primary->width * primary->spacing[0], primary->height * primary->spacing[1],
            primary->slices * primary->spacing[2]};
}

Image* SharedImage::image() const
{
    return copyAt(m_primaryLocation);
}

MemImage* SharedImage::mem()
{
    syncMem();
    return m_mem;
}

GlImage* SharedImage::gl()
{
    syncGl();
    return m_gl;
}

void SharedImage::sync()
{
    syncMem();
    syncGl();
}

void SharedImage::syncGl()
{
    using namespace ImageLocation;
    const bool fromMem = m_mem && (m_newer[Memory][OpenGL] || !m_gl);
    const bool fromCl = m_cl && (m_newer[OpenCL][OpenGL] || (!m_gl && !fromMem));
    if (m_newer[Memory][OpenGL] && m_newer[OpenCL][OpenGL])
        VELTRANE_WARN("SharedImage syncGl: More than one location has been modified.");
    if (fromCl) {
        VELTRANE_WARN("SharedImage: Syncing from OpenGL to OpenCL not supported yet.");
        m_newer[OpenCL][OpenGL] = false;
    } else if (fromMem) {
        if (m_gl) {
            m_gl->update(m_mem);
        } else {
            m_gl = new GlImage(m_mem);
            adoptCopy(m_gl);
        }
        m_newer[Memory][OpenGL] = false;
    }
}

void SharedImage::syncMem()
{
    using namespace ImageLocation;
    const bool fromGl = m_gl && (m_newer[OpenGL][Memory] || !m_mem);
    const bool fromCl = m_cl && (m_newer[OpenCL][Memory] || (!m_mem && !fromGl));
    if (m_newer[OpenGL][Memory] && m_newer[OpenCL][Memory])
        VELTRANE_WARN("SharedImage syncMem: More than one location has been modified.");
    if (fromCl)
        readFromCl();
    else if (fromGl)
        downloadFromGl();
}

void SharedImage::downloadFromGl()
{
    std::unique_ptr<MemImage> download(m_gl->download());
    if (!download)
        return;
    if (m_mem && !m_owned[ImageLocation::Memory]) {
        // The caller's image stays the memory copy and takes the elements.
        if (!m_mem->assign(download.get())) {
            VELTRANE_ERROR("SharedImage syncMem: the memory image cannot take the texture");
            return;
        }
    } else {
        dropCopy(m_mem);
        m_mem = download.release();
        adoptCopy(m_mem);
    }
    m_newer[ImageLocation::OpenGL][ImageLocation::Memory] = false;
}

void SharedImage::readFromCl()
{
    const bool created = !m_mem;
    if (created) {
        m_mem = MemImage::createCompatible(m_cl);
        if (!m_mem) {
            VELTRANE_ERROR("SharedImage syncMem: no memory image of type " << m_cl->type);
            return;
        }
        adoptCopy(m_mem);
    }
    // A memory copy of another shape (after resize or assign) must not take
    // the device's elements: the copy stays flagged as stale instead.
    const bool sameShape = m_mem->width == m_cl->width && m_mem->height == m_cl->height &&
                           m_mem->slices == m_cl->slices && m_mem->channels == m_cl->channels;
    if (!sameShape || !m_cl->downloadInto(m_mem, true)) {
        VELTRANE_ERROR("SharedImage syncMem: "
                       << (sameShape ? "reading the OpenCL copy failed"
                                     : "the OpenCL copy's size differs from the memory copy"));
        if (created) {
            dropCopy(m_mem);
            m_mem = nullptr;
        }
        return;
    }
    m_newer[ImageLocation::OpenCL][ImageLocation::Memory] = false;
}

void SharedImage::setMemModified()
{
    if (m_mem)
        m_newer[ImageLocation::Memory] = {false, false, true, true};
}

void SharedImage::setGlModified()
{
    if (m_gl)
        m_newer[ImageLocation::OpenGL] = {false, true, false, true};
}

void SharedImage::setClModified()
{
    if (m_cl)
        m_newer[ImageLocation::OpenCL] = {false, true, true, false};
}

bool SharedImage::assign(const MemImage* src, bool create)
{
    if (!m_mem) {
        if (!create)
            return false;
        m_mem = src->clone();
        if (!m_mem)
            return false;
        adoptCopy(m_mem);
    } else if (!m_mem->assign(src)) {
        return false;
    }
    setMemModified();
    return true;
}

bool SharedImage::resize(int width, int height, int slices)
{
    bool resized = true;
    if (m_mem)
        resized = m_mem->resize(width, height, slices);
    if (m_gl)
        resized = m_gl->resize(width, height, slices) && resized;
    if (m_cl)
        VELTRANE_WARN("SharedImage: Resize not yet supported on ClImage");
    return resized;
}

Eigen::Matrix4d SharedImage::matrix() const
{
    return m_storedMatrix ? *m_storedMatrix : Eigen::Matrix4d::Identity();
}

Eigen::Matrix4d* SharedImage::matrixPointer()
{
    if (!m_storedMatrix)
        m_storedMatrix = std::make_unique<Eigen::Matrix4d>(Eigen::Matrix4d::Identity());
    return m_storedMatrix.get();
}

void SharedImage::setMatrix(const Eigen::Matrix4d& matrix)
{
    *matrixPointer() = matrix;
}

void SharedImage::dataDeleted(Data* data)
{
    for (int location : {ImageLocation::Memory, ImageLocation::OpenGL, ImageLocation::OpenCL}) {
        if (data != copyAt(location))
            continue;
        setCopy(location, nullptr);
        m_owned[location] = false;
        m_newer[location] = {};
        if (location == m_primaryLocation)
            m_primaryLocation = ImageLocation::None;
    }
}

}  // namespace Veltrane
