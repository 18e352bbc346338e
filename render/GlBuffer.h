#pragma once

#include <QPointer>

#include <cstddef>

namespace Veltrane {

/// One OpenGL buffer object holding vertex data, used through the
/// GL_ARRAY_BUFFER binding. Made with the context current; deleted in its
/// share group even when destroyed with another context current, or none.
class GlBuffer {
public:
    GlBuffer();
    ~GlBuffer();
    GlBuffer(const GlBuffer&) = delete;
    GlBuffer& operator=(const GlBuffer&) = delete;

    /// Binds the buffer to GL_ARRAY_BUFFER.
    void bind() const;
    /// Leaves GL_ARRAY_BUFFER unbound.
    static void unbind();
    /// Replaces the contents by `byteCount` bytes from `data` (an empty buffer
    /// for 0), for drawing many times; leaves GL_ARRAY_BUFFER unbound.
    void upload(const void* data, std::size_t byteCount);

    unsigned name() const { return m_name; }

private:
    unsigned m_name = 0;
    QPointer<QObject> m_owner;
};

}  // namespace Veltrane
