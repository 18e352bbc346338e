#include "core/GlImage.h"

#include "core/GlError.h"
#include "core/GlObjectRelease.h"
#include "core/Logging.h"
#include "core/MemImage.h"

#include <GL/glew.h>

#include <memory>
#include <stdexcept>

namespace Veltrane {
namespace {

/// Sets a pixel-store alignment for one transfer and restores the previous one.
class PixelStoreAlignment {
public:
    PixelStoreAlignment(GLenum parameter, int alignment) : m_parameter(parameter)
    {
        glGetIntegerv(parameter, &m_saved);
        glPixelStorei(parameter, alignment);
    }
    ~PixelStoreAlignment() { glPixelStorei(m_parameter, m_saved); }
    PixelStoreAlignment(const PixelStoreAlignment&) = delete;
    PixelStoreAlignment& operator=(const PixelStoreAlignment&) = delete;

private:
    GLenum m_parameter;
    GLint m_saved = 4;
};

int alignmentOfRow(long long rowBytes)
{
    if (rowBytes % 8 == 0)
        return 8;
    if (rowBytes % 4 == 0)
        return 4;
    return rowBytes % 2 == 0 ? 2 : 1;
}

int alignmentOfRow(int type, int width, int channels)
{
    return alignmentOfRow(static_cast<long long>(bytesPerElement(type)) * channels * width);
}

GLenum pixelFormat(int internalFormat, int channels)
{
    if (isDepthFormat(internalFormat))
        return GL_DEPTH_COMPONENT;
    switch (channels) {
    case 1: return GL_LUMINANCE;
    case 2: return GL_LUMINANCE_ALPHA;
    case 3: return GL_RGB;
    case 4: return GL_RGBA;
    default: return 0;
    }
}

/// Element types that the default internal formats take as they are.
bool hasDefaultFormat(int type)
{
    return type == PixelType::UnsignedByte || type == PixelType::UnsignedShort ||
           type == PixelType::HalfFloat || type == PixelType::Float;
}

/// The internal format for `type` and `channels` when none is asked for.
int defaultInternalFormat(int type, int channels, bool hasData)
{
    static constexpr int unsignedByte[] = {GL_INTENSITY, GL_LUMINANCE_ALPHA, GL_RGB, GL_RGBA};
    static constexpr int float32[] = {GL_INTENSITY32F_ARB, GL_LUMINANCE_ALPHA32F_ARB,
                                      GL_RGB32F_ARB, GL_RGBA32F_ARB};
    if (channels < 1 || channels > 4)
        return channels;
    if (type == PixelType::UnsignedByte)
        return unsignedByte[channels - 1];
    if ((type == PixelType::UnsignedShort || type == PixelType::HalfFloat) && channels == 1)
        return !hasData && GLEW_ARB_texture_float ? GL_INTENSITY16F_ARB : GL_INTENSITY16;
    if (type == PixelType::Float && GLEW_ARB_texture_float)
        return float32[channels - 1];
    return channels;
}

/// Elements of a type without a default format would be read as bytes and
/// come out garbled, so they are refused rather than uploaded.
void refuseUnreadableData(int type, int internalFormat, const void* data)
{
    if (!data || internalFormat != 0 || hasDefaultFormat(type))
        return;
    VELTRANE_ERROR("GlImage: elements of type " << type << " cannot be uploaded to a texture");
    throw std::runtime_error("Unsupported texture element type");
}

}  // namespace

bool isDepthFormat(int internalFormat)
{
    return internalFormat == GL_DEPTH_COMPONENT || internalFormat == GL_DEPTH_COMPONENT16 ||
           internalFormat == GL_DEPTH_COMPONENT24 || internalFormat == GL_DEPTH_COMPONENT32 ||
           internalFormat == GL_DEPTH_COMPONENT32F;
}

GlImage::GlImage(int type, int width, int height, int slices, int channels, int internalFormat,
                 const void* data)
    : Image(type, width, height, slices, channels), m_internalFormat(internalFormat)
{
    createInitialTexture(internalFormat, data);
}

GlImage::GlImage(const Image* src)
    : Image(src->type, src->width, src->height, src->slices, src->channels)
{
    shift = src->shift;
    scale = src->scale;
    spacing = src->spacing;
    createInitialTexture(0, src->data());
}

GlImage::~GlImage()
{
    releaseGlObject(GlObjectType::Texture, m_texture, m_owner);
}

void GlImage::createInitialTexture(int internalFormat, const void* data)
{
    m_owner = currentGlOwner(GlObjectType::Texture);
    try {
        createTexture(internalFormat, data);
    } catch (...) {
        releaseGlObject(GlObjectType::Texture, m_texture, m_owner);
        throw;
    }
}

int GlImage::location() const
{
    return ImageLocation::OpenGL;
}

unsigned GlImage::target() const
{
    if (slices >= 2)
        return GL_TEXTURE_3D;
    return height < 2 ? GL_TEXTURE_1D : GL_TEXTURE_2D;
}

int GlImage::rowAlignment() const
{
    return alignmentOfRow(type, width, channels);
}

void GlImage::bind(int unit)
{
    glActiveTexture(GL_TEXTURE0 + unit);
    glBindTexture(target(), m_texture);
    m_lastUnit = unit;
}

void GlImage::unbind()
{
    glActiveTexture(GL_TEXTURE0 + m_lastUnit);
    glBindTexture(target(), 0);
}

void GlImage::createTexture(int internalFormat, const void* data)
{
    refuseUnreadableData(type, internalFormat, data);
    if (m_texture == 0) {
        collectReleasedGlObjects();
        glGenTextures(1, &m_texture);
    }
    bind(0);
    const GLenum textureTarget = target();
    glTexParameteri(textureTarget, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(textureTarget, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(textureTarget, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(textureTarget, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(textureTarget, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);

    m_format = pixelFormat(internalFormat, channels);
    if (internalFormat == 0) {
        internalFormat = defaultInternalFormat(type, channels, data != nullptr);
        if (!hasDefaultFormat(type))
            type = PixelType::UnsignedByte;
    }
    {
        const PixelStoreAlignment alignment(GL_UNPACK_ALIGNMENT, rowAlignment());
        if (textureTarget == GL_TEXTURE_1D)
            glTexImage1D(textureTarget, 0, internalFormat, width, 0, m_format, type, data);
        else if (textureTarget == GL_TEXTURE_2D)
            glTexImage2D(textureTarget, 0, internalFormat, width, height, 0, m_format, type, data);
        else
            glTexImage3D(textureTarget, 0, internalFormat, width, height, slices, 0, m_format, type,
                         data);
    }
    m_internalFormat = internalFormat;
    unbind();
    checkGlError();
}

bool GlImage::upload(const void* data)
{
    if (!data)
        return false;
    bind(0);
    {
        const PixelStoreAlignment alignment(GL_UNPACK_ALIGNMENT, rowAlignment());
        const GLenum textureTarget = target();
        if (textureTarget == GL_TEXTURE_1D)
            glTexSubImage1D(textureTarget, 0, 0, width, m_format, type, data);
        else if (textureTarget == GL_TEXTURE_2D)
            glTexSubImage2D(textureTarget, 0, 0, 0, width, height, m_format, type, data);
        else
            glTexSubImage3D(textureTarget, 0, 0, 0, 0, width, height, slices, m_format, type, data);
    }
    unbind();
    return true;
}

bool GlImage::update(const Image* src)
{
    const void* data = src->data();
    if (!data)
        return false;
    if (src->type == type && src->width == width && src->height == height &&
        src->slices == slices && src->channels == channels)
        return upload(data);

    refuseUnreadableData(src->type, 0, data);
    const GLenum oldTarget = target();
    type = src->type;
    width = src->width;
    height = src->height;
    slices = src->slices;
    channels = src->channels;
    if (target() != oldTarget)
        dropTextureName();
    m_lastUnit = 0;
    m_format = 0;
    createTexture(0, data);
    return true;
}

bool GlImage::resize(int newWidth, int newHeight, int newSlices)
{
    if (newWidth == width && newHeight == height && newSlices == slices)
        return true;
    const GLenum oldTarget = target();
    width = newWidth;
    if (oldTarget != GL_TEXTURE_1D)
        height = newHeight;
    if (oldTarget == GL_TEXTURE_3D)
        slices = newSlices;
    if (target() != oldTarget) {
        // A 2-D texture of one row, or a 3-D texture of one slice.
        dropTextureName();
        createTexture(m_internalFormat, nullptr);
        return true;
    }
    bind(0);
    if (oldTarget == GL_TEXTURE_3D)
        glTexImage3D(oldTarget, 0, m_internalFormat, width, height, slices, 0, m_format, type, nullptr);
    else if (oldTarget == GL_TEXTURE_2D)
        glTexImage2D(oldTarget, 0, m_internalFormat, width, height, 0, m_format, type, nullptr);
    else
        glTexImage1D(oldTarget, 0, m_internalFormat, width, 0, m_format, type, nullptr);
    unbind();
    return true;
}

void GlImage::dropTextureName()
{
    // A texture name keeps the target it was first bound to.
    releaseGlObject(GlObjectType::Texture, m_texture, m_owner);
    m_texture = 0;
    m_owner = currentGlOwner(GlObjectType::Texture);
}

MemImage* GlImage::download(int downloadType) const
{
    const int elementType = downloadType != 0 ? downloadType : type;
    std::unique_ptr<MemImage> image(
        MemImage::create(elementType, width, height, slices, channels));
    if (!image)
        return nullptr;
    image->spacing = spacing;
    const GLenum textureTarget = target();
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(textureTarget, m_texture);
    {
        const PixelStoreAlignment alignment(GL_PACK_ALIGNMENT,
                                            alignmentOfRow(elementType, width, channels));
        glGetTexImage(textureTarget, 0, m_format, elementType, image->data());
    }
    glBindTexture(textureTarget, 0);
    checkGlError();
    return image.release();
}

}  // namespace Veltrane
