#pragma once

class QEvent;

namespace Veltrane {

class GlView;

/// Turns the mouse and key events of an interactive view into changes of one
/// object of the view's scene. A view offers its events to the manipulators
/// of its scene's objects before its interaction.
class Manipulator {
public:
    Manipulator() = default;
    virtual ~Manipulator() = default;
    Manipulator(const Manipulator&) = delete;
    Manipulator& operator=(const Manipulator&) = delete;

    /// Handles one event of `view`'s interactive view, with positions in
    /// OpenGL window coordinates; true when it was consumed.
    virtual bool handleEvent(QEvent* event, GlView* view) = 0;
};

}  // namespace Veltrane
