#pragma once

#include <array>

namespace Veltrane {

/// Pushes server and client attribute groups (glPushAttrib and
/// glPushClientAttrib masks, 0 for none) and pops them when it goes away,
/// also when an exception leaves the scope.
class GlAttributeScope {
public:
    GlAttributeScope(unsigned serverMask, unsigned clientMask);
    ~GlAttributeScope();
    GlAttributeScope(const GlAttributeScope&) = delete;
    GlAttributeScope& operator=(const GlAttributeScope&) = delete;

private:
    unsigned m_serverMask;
    unsigned m_clientMask;
};

/// Keeps the draw and read framebuffer bindings, the program in use and the
/// viewport, and puts them back when it goes away: for helpers that draw
/// into framebuffers of their own in the middle of someone else's drawing.
class GlTargetScope {
public:
    GlTargetScope();
    ~GlTargetScope();
    GlTargetScope(const GlTargetScope&) = delete;
    GlTargetScope& operator=(const GlTargetScope&) = delete;

private:
    int m_drawFramebuffer = 0;
    int m_readFramebuffer = 0;
    int m_program = 0;
    std::array<int, 4> m_viewport{};
};

}  // namespace Veltrane
