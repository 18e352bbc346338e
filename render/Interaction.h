#pragma once

#include <QPoint>
#include <Qt>

class QEvent;

namespace Veltrane {

/// A mouse and keyboard handler of an interactive view: turns the events the
/// view passes on into changes of its scene. Positions of mouse and wheel
/// events are in OpenGL window coordinates (origin at the bottom-left pixel
/// of the display widget, y upwards). Interactions belong to whoever created
/// them; the views only point at them.
class Interaction {
public:
    Interaction() = default;
    virtual ~Interaction() = default;
    Interaction(const Interaction&) = delete;
    Interaction& operator=(const Interaction&) = delete;

    /// Handles one event; true when it was consumed.
    virtual bool handleEvent(QEvent* event) = 0;
    /// Returns to the initial state.
    virtual void reset() {}

    /// Asks the display widget under `globalPos` to open its context menu at
    /// `pos` (window coordinates, y upwards); does nothing when no display
    /// widget is there. The request is posted, so the menu opens once the
    /// current event is done.
    void postContextMenu(const QPoint& pos, const QPoint& globalPos,
                         Qt::KeyboardModifiers modifiers);
};

/// An interaction that swallows whole classes of events, so that a view
/// without an interaction of its own keeps them from the views behind it.
/// Wheel events always pass.
class InteractionFilter : public Interaction {
public:
    /// Bits of `passFlags`.
    static constexpr int PassMouse = 1;  ///< presses, releases, double clicks, moves
    static constexpr int PassKeys = 2;   ///< key presses and releases
    static constexpr int PassAll = 4;    ///< nothing is swallowed

    explicit InteractionFilter(int passFlags) : m_passFlags(passFlags) {}

    /// Accepts and consumes the mouse events unless PassMouse is set, the key
    /// events unless PassKeys is set, and context-menu events unless either
    /// is set; with PassAll consumes nothing.
    bool handleEvent(QEvent* event) override;

    int passFlags() const { return m_passFlags; }

private:
    int m_passFlags;
};

}  // namespace Veltrane
