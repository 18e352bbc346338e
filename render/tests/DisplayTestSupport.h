#pragma once

#include "render/DisplayWidget.h"
#include "render/GlView.h"
#include "render/Interaction.h"
#include "testsupport/GlPointer.h"

#include <QEvent>
#include <QPoint>

#include <memory>
#include <set>
#include <vector>

namespace Veltrane {

/// A scene that draws nothing and counts what its interactive view asks of it.
class CountingView : public GlView {
public:
    void initializeGl() override { ++initializations; }
    bool render() override
    {
        ++renders;
        return true;
    }
    int kind() const override { return 0; }
    void resize(int width, int height) override
    {
        GlView::resize(width, height);
        ++resizes;
    }

    int initializations = 0;
    int renders = 0;
    int resizes = 0;
};

/// An interaction that remembers every input event it is offered and
/// consumes the types it is told to.
class RecordingInteraction : public Interaction {
public:
    struct Seen {
        QEvent::Type type;
        QPoint pos;        ///< mouse and wheel events
        QPoint globalPos;  ///< mouse and wheel events
        Qt::MouseButtons buttons;
        int key;  ///< key events
    };

    explicit RecordingInteraction(std::set<QEvent::Type> consumed = {}) : consumed(std::move(consumed)) {}

    bool handleEvent(QEvent* event) override;
    void reset() override { ++resets; }

    /// The events of one type, in the order seen.
    std::vector<Seen> of(QEvent::Type type) const;

    std::set<QEvent::Type> consumed;
    std::vector<Seen> seen;
    int resets = 0;
};

/// A shown display widget of a given size with its context current, and a
/// pointer that drives it with real Qt events. Points are in OpenGL window
/// coordinates of the widget (origin bottom left, y upwards), as the views
/// see them. Fails the test when the widget leaves an OpenGL error behind.
class DisplayHarness : public GlPointer {
public:
    DisplayHarness(int width, int height);
    ~DisplayHarness();
    DisplayHarness(const DisplayHarness&) = delete;
    DisplayHarness& operator=(const DisplayHarness&) = delete;

    DisplayWidget& widget() { return *m_widget; }
    /// Whether the widget is shown with a valid context.
    bool ready() const { return m_ready; }

    /// Resizes the widget and waits until the new size took effect.
    bool resize(int width, int height);
    /// Moves the widget's window to `topLeft` on the screen, raises it and
    /// waits until it is there: for what looks the widget up by its screen
    /// position while other test processes show windows at the origin.
    bool moveTo(const QPoint& topLeft);
    /// Paints a frame now, so that the views capture their view state.
    void paint();

private:
    std::unique_ptr<DisplayWidget> m_widget;
    bool m_ready = false;
};

}  // namespace Veltrane
