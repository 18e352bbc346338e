#pragma once

#include "render/SplitterDrag.h"

// GLEW must come before the OpenGL header that QGLWidget pulls in.
#include <GL/glew.h>

#include <QColor>
#include <QGLFormat>
#include <QGLWidget>
#include <QList>
#include <QString>
#include <QTimer>

class QContextMenuEvent;
class QImage;

namespace Veltrane {

class InteractiveOverlay;
class InteractiveView;

/// The format of every display widget's context: double buffered RGBA with
/// alpha, depth and stencil, OpenGL 4.3 compatibility profile (the views use
/// fixed-function calls).
QGLFormat displayGlFormat();

/// The hidden widget whose context every display widget shares, so that
/// textures, buffers and programs made in one are valid in all. Made on first
/// use; lives as long as the process.
QGLWidget* sharedGlWidget();

/// The one OpenGL widget of the application: lays its interactive views out,
/// paints them every frame, and routes every mouse, wheel, key and
/// context-menu event to the view that should get it. It can save what it
/// shows as image files, once or for every frame.
///
/// Views and overlays get mouse and wheel events as copies in OpenGL window
/// coordinates (origin at the bottom-left pixel, y upwards; global position
/// kept); other events reach them unchanged. A view or overlay that consumes a
/// press holds the grab: it is offered every mouse event first, wherever the
/// pointer is, until a button is released; it is also offered key events
/// first, so that Escape reaches a drag in progress. The first view that
/// consumes an event ends its routing; mouse and wheel events go only to the
/// views under the pointer, other events to every visible view in order.
///
/// Right clicks never open a menu by themselves: an interaction asks for the
/// menu with Interaction::postContextMenu(), and the widget fills it from the
/// overlay or view under the requested position.
///
/// Everything runs in the user interface thread.
class DisplayWidget : public QGLWidget {
    Q_OBJECT

public:
    /// Makes the context current and logs the OpenGL facts.
    explicit DisplayWidget(QWidget* parent = nullptr);
    /// Deletes the views, last first, then the overlays, with the context
    /// current.
    ~DisplayWidget() override;

    /// Inserts `view` before position `index` (appends for an index out of
    /// range), takes ownership, switches the relative layout off and lays
    /// the views out. A view already in the list is ignored.
    void addView(InteractiveView* view, int index = -1);
    /// Appends `overlay`, takes ownership and lays the overlays out.
    void addOverlay(InteractiveOverlay* overlay);
    const QList<InteractiveView*>& views() const { return m_views; }
    const QList<InteractiveOverlay*>& overlays() const { return m_overlays; }

    /// A `ViewLayoutMode`; takes effect at the next layout().
    void setLayoutMode(int mode) { m_layoutMode = mode; }
    int layoutMode() const { return m_layoutMode; }
    /// Place two or more visible views by their `relativeRect`; takes effect
    /// at the next layout(). addView() and splitter drags change it too.
    void setRelativeLayout(bool relative) { m_relativeLayout = relative; }
    bool relativeLayout() const { return m_relativeLayout; }
    void setSplittersEnabled(bool enabled) { m_splittersEnabled = enabled; }
    bool splittersEnabled() const { return m_splittersEnabled; }
    void setBackgroundColor(const QColor& color) { m_backgroundColor = color; }
    QColor backgroundColor() const { return m_backgroundColor; }

    /// The view holding the mouse grab; null when none does.
    InteractiveView* grabbingView() const { return m_grabbingView; }
    /// Whether Shift was held in the last input event.
    bool shiftHeld() const { return m_shiftHeld; }
    /// File name pattern of recorded frames; %1 is the frame number.
    QString framePattern() const { return m_framePattern; }
    int frameCounter() const { return m_frameCounter; }
    bool recordsEveryFrame() const { return m_recordEveryFrame; }
    bool recordsContinuously() const { return m_recordTimer.isActive(); }

    bool event(QEvent* event) override;

    /// Renders the views and returns the picture, without alpha.
    QImage picture();

public slots:
    /// With `continuous`, starts (or stops) saving a frame every 40 ms;
    /// otherwise stops that and saves (or stops saving) every painted frame.
    /// With `reset`, numbering starts again at 0.
    void setRecording(bool enable, bool reset = true, bool continuous = false);
    /// Recorded frames go to the folder `path`, named "img_<number>.png".
    void setRecordingOutputDir(const QString& path);
    /// Renders the views and saves the picture, without alpha, to `path` in
    /// the format of its suffix; the path is logged. A picture that cannot be
    /// saved is skipped.
    void saveScreenshot(const QString& path);
    /// Places the views (by `layoutMode` and the relative layout), then the
    /// overlays, and repaints.
    void layout();
    /// Stacks the visible overlays in the corners of their anchors.
    void layoutOverlays();

protected:
    void paintGL() override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private slots:
    void recordFrame();

private:
    /// Clears the frame and paints every view and overlay.
    void paintScene();
    /// The next recorded frame's file name; counts the frame.
    QString nextFramePath();
    /// Logs `path` and saves `image` there; a failure is not reported.
    void writeImage(const QImage& image, const QString& path) const;
    /// The first shown overlay, or else visible view, whose rectangle holds
    /// `position` (window coordinates); null when none does.
    InteractiveOverlay* overlayAt(const QPoint& position) const;
    InteractiveView* viewAt(const QPoint& position) const;

    QList<InteractiveView*> m_views;
    int m_layoutMode = 0;
    InteractiveOverlay* m_grabbingOverlay = nullptr;
    InteractiveView* m_grabbingView = nullptr;
    bool m_relativeLayout = false;
    bool m_shiftHeld = false;
    bool m_splittersEnabled = true;
    SplitterDrag m_splitter;
    QList<InteractiveOverlay*> m_overlays;
    QColor m_backgroundColor{0, 0, 0};
    QString m_framePattern = QStringLiteral("img_%1.png");
    int m_frameCounter = 0;
    bool m_recordEveryFrame = false;
    QTimer m_recordTimer;
};

}  // namespace Veltrane
