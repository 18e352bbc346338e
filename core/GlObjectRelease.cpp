#include "core/GlObjectRelease.h"

#include <QOpenGLContext>

#include <algorithm>
#include <mutex>
#include <vector>

namespace Veltrane {
namespace {

struct WaitingObject {
    GlObjectType type;
    unsigned name;
    QPointer<QObject> owner;
};

std::mutex waitingMutex;
std::vector<WaitingObject> waitingObjects;

/// The context, or for objects that every context of a share group sees, the
/// share group, that `context` stands for.
QObject* ownerIn(QOpenGLContext* context, GlObjectType type)
{
    if (type == GlObjectType::Framebuffer)
        return context;
    return context->shareGroup();
}

bool isCurrent(GlObjectType type, const QObject* owner)
{
    QOpenGLContext* context = QOpenGLContext::currentContext();
    return context && ownerIn(context, type) == owner;
}

}  // namespace

QPointer<QObject> currentGlOwner(GlObjectType type)
{
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (!context)
        return nullptr;
    return ownerIn(context, type);
}

void releaseGlObject(GlObjectType type, unsigned name, const QPointer<QObject>& owner)
{
    if (name == 0 || owner.isNull())
        return;
    if (isCurrent(type, owner.data())) {
        detail::deleteGlObjectNow(type, name);
        collectReleasedGlObjects();
        return;
    }
    const std::lock_guard<std::mutex> lock(waitingMutex);
    waitingObjects.push_back({type, name, owner});
}

void collectReleasedGlObjects()
{
    std::vector<WaitingObject> due;
    {
        const std::lock_guard<std::mutex> lock(waitingMutex);
        const auto keep = std::stable_partition(
            waitingObjects.begin(), waitingObjects.end(), [](const WaitingObject& object) {
                return !object.owner.isNull() && !isCurrent(object.type, object.owner.data());
            });
        due.assign(keep, waitingObjects.end());
        waitingObjects.erase(keep, waitingObjects.end());
    }
    for (const WaitingObject& object : due)
        if (!object.owner.isNull())
            detail::deleteGlObjectNow(object.type, object.name);
}

}  // namespace Veltrane
