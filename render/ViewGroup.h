#pragma once

#include "render/InteractiveView.h"

#include <QList>
#include <QObject>
#include <QStringList>

namespace Veltrane {

/// Ties interactive views together: the Qt properties named in
/// `propertyNames()` pass from each member to every other (a member's change
/// signal calls the others' setter, "set" + the capitalised name), and the
/// members' GlViews list each other as linked views. Setters that return
/// early on an unchanged value keep the passing from going round in circles.
/// The group does not own its views.
class ViewGroup : public QObject {
    Q_OBJECT

public:
    explicit ViewGroup(const QStringList& propertyNames, QObject* parent = nullptr);

    const QStringList& propertyNames() const { return m_propertyNames; }
    const QList<InteractiveView*>& views() const { return m_views; }

    /// False for null.
    bool contains(const InteractiveView* view) const;
    /// Resets every member, in order.
    void resetAll();
    /// Links `view` with every member and appends it; null or a member
    /// changes nothing.
    void addView(InteractiveView* view);
    /// Unlinks `view` from the others and takes it out; null or a non-member
    /// changes nothing.
    void removeView(InteractiveView* view);

    /// Connects the change signal of `from`'s property `name` to the setter
    /// of `to`; false when `from` has no such property with a change signal,
    /// or `to` no such setter.
    static bool connectProperty(const QString& name, QObject* from, QObject* to);
    /// Undoes connectProperty(); false when there was nothing to undo.
    static bool disconnectProperty(const QString& name, QObject* from, QObject* to);

signals:
    void viewRemoved(InteractiveView* view);
    void viewAdded(InteractiveView* view);

private:
    QStringList m_propertyNames;
    QList<InteractiveView*> m_views;
};

}  // namespace Veltrane
