#pragma once

#include <QPointer>

#include <string>
#include <vector>

namespace Veltrane {

class GlImage;

/// A framebuffer object with texture attachments. Attach after bind(); the
/// colour attachments are listed, in attach order, for setDrawBuffers().
/// The framebuffer is deleted in the context that made it, even when the
/// object is destroyed with another context current, or none.
class GlFramebuffer {
public:
    GlFramebuffer();
    ~GlFramebuffer();
    GlFramebuffer(const GlFramebuffer&) = delete;
    GlFramebuffer& operator=(const GlFramebuffer&) = delete;

    void bind();
    /// Binds the window's framebuffer again.
    void unbind();

    /// Attaches level 0 of `image`: depth textures to the depth attachment,
    /// others to colour attachment `colorIndex`. Of a 3-D texture, `layer`
    /// is attached, or every layer when it is negative. Then checks
    /// completeness (see checkStatus()); the attachment stays made when that
    /// throws.
    void attach(const GlImage* image, int colorIndex, int layer = -1);
    /// Removes the texture from colour attachment `colorIndex`.
    void detachColor(int colorIndex);
    /// Makes the listed colour attachments the draw buffers.
    void setDrawBuffers();

    /// True when the bound framebuffer is complete; otherwise logs
    /// "OpenGL framebuffer error: " and the status name at ERROR and throws
    /// std::runtime_error("OpenGL framebuffer error").
    bool checkStatus();

    unsigned framebuffer() const { return m_framebuffer; }
    const std::vector<unsigned>& drawBuffers() const { return m_drawBuffers; }

private:
    unsigned m_framebuffer = 0;
    std::vector<unsigned> m_drawBuffers;
    QPointer<QObject> m_owner;
};

/// The name of a framebuffer completeness status ("Incomplete attachment"...),
/// or "Unknown error 0x" and the status in hexadecimal.
std::string framebufferStatusName(unsigned status);

}  // namespace Veltrane
