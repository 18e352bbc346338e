#include "render/ViewGroup.h"

#include "render/GlView.h"
#include "render/InteractiveView.h"

#include <QMetaMethod>
#include <QMetaProperty>

#include <algorithm>
#include <optional>
#include <utility>

namespace Veltrane {
namespace {

/// The change signal of `from`'s property `name` and the matching setter of
/// `to`; none when either is missing.
std::optional<std::pair<QMetaMethod, QMetaMethod>> propertyLink(const QString& name,
                                                                const QObject* from,
                                                                const QObject* to)
{
    const QMetaObject* source = from->metaObject();
    const int index = source->indexOfProperty(name.toLatin1().constData());
    if (index < 0 || !source->property(index).hasNotifySignal())
        return std::nullopt;
    const QMetaProperty property = source->property(index);
    const QByteArray setter = "set" + name.left(1).toUpper().toLatin1() +
                              name.mid(1).toLatin1() + "(" + property.typeName() + ")";
    const int slot =
        to->metaObject()->indexOfSlot(QMetaObject::normalizedSignature(setter.constData()));
    if (slot < 0)
        return std::nullopt;
    return std::make_pair(property.notifySignal(), to->metaObject()->method(slot));
}

void unlink(std::vector<GlView*>& links, GlView* view)
{
    links.erase(std::remove(links.begin(), links.end(), view), links.end());
}

}  // namespace

ViewGroup::ViewGroup(const QStringList& propertyNames, QObject* parent)
    : QObject(parent), m_propertyNames(propertyNames)
{
}

bool ViewGroup::contains(const InteractiveView* view) const
{
    return view && std::find(m_views.begin(), m_views.end(), view) != m_views.end();
}

void ViewGroup::resetAll()
{
    for (InteractiveView* view : qAsConst(m_views))
        view->reset();
}

void ViewGroup::addView(InteractiveView* view)
{
    if (!view || contains(view))
        return;
    for (const QString& name : qAsConst(m_propertyNames)) {
        for (InteractiveView* member : qAsConst(m_views)) {
            connectProperty(name, view, member);
            connectProperty(name, member, view);
        }
    }
    for (InteractiveView* member : qAsConst(m_views)) {
        member->glView()->linkedViews().push_back(view->glView());
        view->glView()->linkedViews().push_back(member->glView());
    }
    m_views.append(view);
    emit viewAdded(view);
}

void ViewGroup::removeView(InteractiveView* view)
{
    if (!contains(view))
        return;
    m_views.removeOne(view);
    for (const QString& name : qAsConst(m_propertyNames)) {
        for (InteractiveView* member : qAsConst(m_views)) {
            disconnectProperty(name, view, member);
            disconnectProperty(name, member, view);
        }
    }
    for (InteractiveView* member : qAsConst(m_views)) {
        unlink(member->glView()->linkedViews(), view->glView());
        unlink(view->glView()->linkedViews(), member->glView());
    }
    emit viewRemoved(view);
}

bool ViewGroup::connectProperty(const QString& name, QObject* from, QObject* to)
{
    const auto link = propertyLink(name, from, to);
    return link && static_cast<bool>(QObject::connect(from, link->first, to, link->second));
}

bool ViewGroup::disconnectProperty(const QString& name, QObject* from, QObject* to)
{
    const auto link = propertyLink(name, from, to);
    return link && QObject::disconnect(from, link->first, to, link->second);
}

}  // namespace Veltrane
