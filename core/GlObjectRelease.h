#pragma once

#include <QPointer>

namespace Veltrane {

/// OpenGL objects that are released through releaseGlObject().
enum class GlObjectType {
    Texture,      ///< shared by every context of a share group
    Buffer,       ///< shared by every context of a share group
    Shader,       ///< shared by every context of a share group
    Program,      ///< shared by every context of a share group
    Framebuffer,  ///< lives in the one context that created it
};

/// The context (framebuffers) or share group (every other type) that owns
/// objects of `type` created now on this thread; null without a current Qt
/// context.
QPointer<QObject> currentGlOwner(GlObjectType type);

/// Deletes the OpenGL object `name` when `owner` is current on this thread.
/// Otherwise the name waits for the next collectReleasedGlObjects() made with
/// `owner` current, so an object is never deleted in a foreign context or
/// with none. Names whose owner has been destroyed are dropped: they went
/// with it; so are names made without a current Qt context (null `owner`),
/// which belong to whoever made that context current.
void releaseGlObject(GlObjectType type, unsigned name, const QPointer<QObject>& owner);

/// Deletes the waiting names that belong to the current context.
void collectReleasedGlObjects();

namespace detail {
/// Deletes `name` in the current context. (Apart from the Qt side because
/// GLEW's header and Qt's OpenGL headers do not mix in one file.)
void deleteGlObjectNow(GlObjectType type, unsigned name);
}  // namespace detail

}  // namespace Veltrane
