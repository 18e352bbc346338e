#pragma once

namespace Veltrane {

class GlImage;

/// Sets the filter (GL_TEXTURE_MIN_FILTER and _MAG_FILTER) and the wrap mode
/// (GL_TEXTURE_WRAP_S, _T and _R) of a texture for as long as the guard lives,
/// and restores the five previous values when it goes away.
class GlTextureParameterGuard {
public:
    /// On `image`'s texture, which is bound to unit 0 while its parameters are
    /// read or written.
    GlTextureParameterGuard(GlImage* image, int filter, int wrap);
    /// On the texture currently bound to `target` (GL_TEXTURE_2D...), which
    /// must still be bound there when the guard goes away.
    GlTextureParameterGuard(unsigned target, int filter, int wrap);
    ~GlTextureParameterGuard();
    GlTextureParameterGuard(const GlTextureParameterGuard&) = delete;
    GlTextureParameterGuard& operator=(const GlTextureParameterGuard&) = delete;

private:
    void saveAndSet(int filter, int wrap);

    GlImage* m_image = nullptr;
    unsigned m_target;
    /// MIN_FILTER, MAG_FILTER, WRAP_S, WRAP_T, WRAP_R.
    int m_saved[5] = {};
};

/// Sets both filters to `filter` and the three wrap modes to `wrap` on the
/// texture bound to `target`.
void setTextureParameters(unsigned target, int filter, int wrap);

}  // namespace Veltrane
