#pragma once

#include <QColor>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QRect>
#include <QRectF>
#include <QString>

#include <memory>

class QAction;
class QEvent;
class QKeyEvent;
class QMenu;

namespace Veltrane {

class GlObject;
class GlView;
class Interaction;
class Manipulator;
class ViewGroup;

/// One rectangular region of a `DisplayWidget`: shows one `GlView` over its
/// own background, optionally framed, and turns the events the display widget
/// routes to it into changes of its scene, first through the manipulators of
/// the scene's objects, then through its interaction, then through the
/// single-key shortcuts of its actions.
///
/// Rectangles are in OpenGL window coordinates of the display widget: origin
/// at the bottom-left pixel, y upwards, corners inclusive. Everything runs in
/// the user interface thread; painting happens inside the display widget's
/// paint pass with its context current.
///
/// The view owns its GlView; its interaction and manipulators belong to
/// whoever created them and must outlive their use here.
class InteractiveView : public QObject {
    Q_OBJECT
    Q_PROPERTY(QRect rect READ rect WRITE setRect NOTIFY rectChanged)

public:
    /// Takes ownership of `view`, which must not be null; builds the actions.
    explicit InteractiveView(GlView* view);
    /// Lets the GlView release its OpenGL resources (the display widget's
    /// context must be current), then deletes it.
    ~InteractiveView() override;

    GlView* glView() const { return m_glView.get(); }
    QRect rect() const { return m_rect; }
    bool visible() const { return m_visible; }
    /// Whether the GlView has been initialised by a paint.
    bool glInitialized() const { return m_glInitialized; }
    /// The context-menu actions by their untranslated names: "Reset", "Hide",
    /// "Fullscreen" and "Synchronize".
    const QMap<QString, QAction*>& actions() const { return m_actions; }

    /// Draws background, frame and scene into the view's rectangle; nothing
    /// while hidden.
    void paint();
    /// Stores a new rectangle and tells the GlView its drawable size (the
    /// rectangle's, 4 pixels less each way with a frame).
    void setRect(const QRect& rect);
    void setVisible(bool visible);
    /// Registers `manipulator` for `object` of the scene, replacing the one
    /// before; null removes the object's manipulator.
    void setManipulator(GlObject* object, Manipulator* manipulator);

    /// Offers `event` to the manipulators of the scene's objects in the
    /// order of the objects, then to the interaction, then (key presses) to
    /// the action shortcuts; true, with updateRequested() emitted, when one
    /// consumed it.
    virtual bool handleEvent(QEvent* event);
    /// Adds "Reset" and "Hide" (and "Synchronize" in a view group) to `menu`
    /// when `showContextMenu` is set.
    virtual void addContextMenuActions(QMenu* menu);
    /// Triggers every action whose shortcut is exactly the event's key alone;
    /// true when one was triggered.
    virtual bool handleShortcut(QKeyEvent* event);

    /// Written by the owner after construction.
    Interaction* interaction = nullptr;
    bool drawBorder = false;
    bool showContextMenu = false;
    QColor backgroundColor{0, 0, 0};
    QColor borderColor{255, 255, 255};
    /// Place in the display widget as fractions of its width and height, y
    /// measured from the bottom edge; used by the widget's relative layout.
    QRectF relativeRect{1.0, 1.0, 1.0, 1.0};
    /// The group that ties this view to others; not owned, may be null.
    ViewGroup* viewGroup = nullptr;

public slots:
    /// Resets the interaction and asks for a repaint.
    virtual void reset();

signals:
    void visibilityChanged(bool visible);
    void rectChanged(const QRect& rect);
    void updateRequested();

protected slots:
    /// Acts on a chosen context-menu action.
    virtual void contextMenuEvaluate(QAction* action);

protected:
    /// Builds the actions into `m_actions`, in a non-exclusive group whose
    /// triggers reach contextMenuEvaluate().
    virtual void createActions();

    QMap<QString, QAction*> m_actions;

private:
    std::unique_ptr<GlView> m_glView;
    QRect m_rect;
    bool m_visible = true;
    bool m_glInitialized = false;
    QHash<GlObject*, Manipulator*> m_manipulators;
};

}  // namespace Veltrane
