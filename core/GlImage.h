#pragma once

#include "core/Image.h"

#include <QPointer>

namespace Veltrane {

class MemImage;

/// True for the depth internal formats: GL_DEPTH_COMPONENT and its 16, 24, 32
/// and 32F variants.
bool isDepthFormat(int internalFormat);

/// An image whose elements live in one OpenGL texture.
///
/// The target follows the header: a 1-D texture when height and slices are
/// below 2, a 2-D texture when slices are below 2, a 3-D texture otherwise.
/// The pixel and internal formats follow the element type and channel count.
/// Every operation needs a current OpenGL context with GLEW initialised; the
/// texture is deleted in its own share group even when the image is destroyed
/// with another context current, or none.
class GlImage : public Image {
public:
    /// Creates the texture storage with `internalFormat` (0 for the default of
    /// the element type and channels), filled from `data` when not null.
    /// Throws std::runtime_error when OpenGL reports an error, or when `data`
    /// is given with the default format and an element type that a texture
    /// cannot take (anything but unsigned byte, unsigned short, half float and
    /// float).
    GlImage(int type, int width, int height, int slices, int channels, int internalFormat = 0,
            const void* data = nullptr);
    /// Takes `src`'s type, sizes, channels, shift, scale and spacing and
    /// creates the texture from `src->data()` (storage only when null).
    explicit GlImage(const Image* src);
    ~GlImage() override;

    int location() const override;

    /// GL_TEXTURE_1D, GL_TEXTURE_2D or GL_TEXTURE_3D, from the sizes.
    unsigned target() const;
    /// Alignment of one row of elements: 8, 4, 2 or 1, the largest that
    /// divides the row's byte length.
    int rowAlignment() const;

    /// Binds the texture to texture unit `unit`, which unbind() will use.
    void bind(int unit);
    void unbind();

    /// Replaces every element with `data`, which must hold the whole image in
    /// this image's type and channels. False for null.
    bool upload(const void* data);
    /// Brings the texture to `src`'s elements: uploads in place when type,
    /// sizes and channels agree, otherwise recreates the storage. The texture
    /// name stays unless the change needs another target (2-D to 3-D, say).
    /// False when `src` holds no elements in host memory; throws as the
    /// constructor does.
    bool update(const Image* src);
    /// Reallocates the storage, contents lost: a 3-D texture takes all three
    /// sizes, a 2-D texture width and height, a 1-D texture the width only.
    /// Sizes that make it another kind of texture (a 2-D texture of one row, a
    /// 3-D texture of one slice) give it a new texture name, as update() does.
    bool resize(int width, int height, int slices);
    /// A new memory image of this image's sizes, channels and spacing holding
    /// the texture's elements as `type` (this image's type when 0); the caller
    /// owns it. Null for a type that has no memory image. Throws
    /// std::runtime_error when OpenGL reports an error.
    MemImage* download(int type = 0) const;

    unsigned texture() const { return m_texture; }
    int lastUnit() const { return m_lastUnit; }
    /// Pixel format of uploads and downloads (GL_LUMINANCE, GL_RGBA...).
    unsigned format() const { return m_format; }
    int internalFormat() const { return m_internalFormat; }

private:
    /// Generates the texture when there is none, sets filters and wrap modes,
    /// chooses the formats and allocates the storage, filled from `data`.
    void createTexture(int internalFormat, const void* data);
    /// createTexture() for a constructor: no texture is left behind on error.
    void createInitialTexture(int internalFormat, const void* data);
    /// Releases the texture name, so that createTexture() makes a new one for
    /// another target.
    void dropTextureName();

    unsigned m_texture = 0;
    int m_lastUnit = 0;
    unsigned m_format = 0;
    int m_internalFormat = 0;
    QPointer<QObject> m_owner;
};

}  // namespace Veltrane
