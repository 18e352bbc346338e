#include "render/DisplayWidget.h"

#include "core/Logging.h"
#include "render/GlInfo.h"
#include "render/InteractiveOverlay.h"
#include "render/InteractiveView.h"
#include "render/ViewLayout.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QWheelEvent>

#include <memory>
#include <optional>

namespace Veltrane {
namespace {

bool isMouseEvent(QEvent::Type type)
{
    return type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
           type == QEvent::MouseButtonDblClick || type == QEvent::MouseMove;
}

bool isKeyEvent(QEvent::Type type)
{
    return type == QEvent::KeyPress || type == QEvent::KeyRelease;
}

/// A copy of a mouse or wheel event with its position turned into window
/// coordinates of a widget `height` pixels high (y upwards), everything else,
/// the global position included, kept; not accepted. Null for other events.
std::unique_ptr<QEvent> windowCoordinatesCopy(const QEvent& event, int height)
{
    std::unique_ptr<QEvent> copy;
    if (isMouseEvent(event.type())) {
        const auto& mouse = static_cast<const QMouseEvent&>(event);
        const QPointF flipped(mouse.localPos().x(), height - 1 - mouse.localPos().y());
        auto moved = std::make_unique<QMouseEvent>(mouse.type(), flipped, mouse.windowPos(),
                                                   mouse.screenPos(), mouse.button(),
                                                   mouse.buttons(), mouse.modifiers(),
                                                   mouse.source());
        moved->setTimestamp(mouse.timestamp());
        copy = std::move(moved);
    } else if (event.type() == QEvent::Wheel) {
        const auto& wheel = static_cast<const QWheelEvent&>(event);
        const QPointF flipped(wheel.position().x(), height - 1 - wheel.position().y());
        auto moved = std::make_unique<QWheelEvent>(
            flipped, wheel.globalPosition(), wheel.pixelDelta(), wheel.angleDelta(),
            wheel.buttons(), wheel.modifiers(), wheel.phase(), wheel.inverted(), wheel.source());
        moved->setTimestamp(wheel.timestamp());
        copy = std::move(moved);
    }
    if (copy)
        copy->setAccepted(false);
    return copy;
}

/// Whether `overlay` is visible over a visible anchor (or the whole widget).
bool overlayShown(const InteractiveOverlay* overlay)
{
    return overlay->visibility() && (!overlay->anchorView() || overlay->anchorView()->visible());
}

/// The first of `takers` that is `shown`, holds `position` (when the event
/// has one) and consumes `event`; null when none does.
template <typename Taker, typename Shown>
Taker* firstTaker(const QList<Taker*>& takers, Shown shown, QEvent* event,
                  const std::optional<QPoint>& position)
{
    for (Taker* taker : takers)
        if (shown(taker) && (!position || taker->rect().contains(*position)) &&
            taker->handleEvent(event))
            return taker;
    return nullptr;
}

std::optional<QPoint> positionOf(const QEvent* copy)
{
    if (!copy)
        return std::nullopt;
    if (copy->type() == QEvent::Wheel)
        return static_cast<const QWheelEvent*>(copy)->position().toPoint();
    return static_cast<const QMouseEvent*>(copy)->pos();
}

}  // namespace

QGLFormat displayGlFormat()
{
    QGLFormat format(QGL::DoubleBuffer | QGL::DepthBuffer | QGL::Rgba | QGL::AlphaChannel |
                         QGL::StencilBuffer | QGL::DeprecatedFunctions,
                     0);
    format.setVersion(4, 3);
    format.setProfile(QGLFormat::CompatibilityProfile);
    return format;
}

QGLWidget* sharedGlWidget()
{
    static QGLWidget* const widget = new QGLWidget(displayGlFormat());
    return widget;
}

DisplayWidget::DisplayWidget(QWidget* parent)
    : QGLWidget(displayGlFormat(), parent, sharedGlWidget())
{
    makeCurrent();
    logGlInfo();
    setMouseTracking(true);
    // Right clicks always arrive as mouse events; menus open only on request.
    setContextMenuPolicy(Qt::PreventContextMenu);
    // Keys (Escape during a drag, the views' shortcuts) need the focus.
    setFocusPolicy(Qt::StrongFocus);
    m_recordTimer.setInterval(40);
    connect(&m_recordTimer, &QTimer::timeout, this, &DisplayWidget::recordFrame);
}

DisplayWidget::~DisplayWidget()
{
    makeCurrent();
    m_grabbingOverlay = nullptr;
    m_grabbingView = nullptr;
    while (!m_views.isEmpty())
        delete m_views.takeLast();
    while (!m_overlays.isEmpty())
        delete m_overlays.takeLast();
}

void DisplayWidget::addView(InteractiveView* view, int index)
{
    if (!view || m_views.contains(view))
        return;
    if (index >= 0 && index < m_views.size())
        m_views.insert(index, view);
    else
        m_views.append(view);
    connect(view, &InteractiveView::visibilityChanged, this, &DisplayWidget::layout);
    connect(view, &InteractiveView::updateRequested, this, [this] { update(); });
    m_relativeLayout = false;
    layout();
}

void DisplayWidget::addOverlay(InteractiveOverlay* overlay)
{
    if (!overlay || m_overlays.contains(overlay))
        return;
    m_overlays.append(overlay);
    connect(overlay, &InteractiveOverlay::visibilityChanged, this, &DisplayWidget::layoutOverlays);
    connect(overlay, &InteractiveOverlay::sizeChanged, this, &DisplayWidget::layoutOverlays);
    connect(overlay, &InteractiveOverlay::anchorPointChanged, this,
            &DisplayWidget::layoutOverlays);
    connect(overlay, &InteractiveOverlay::anchorViewChanged, this,
            &DisplayWidget::layoutOverlays);
    connect(overlay, &InteractiveOverlay::updateRequested, this, [this] { update(); });
    layoutOverlays();
}

bool DisplayWidget::event(QEvent* event)
{
    event->setAccepted(false);
    const QEvent::Type type = event->type();
    if (type == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Other)
        contextMenuEvent(static_cast<QContextMenuEvent*>(event));
    if (const auto* input = dynamic_cast<const QInputEvent*>(event))
        m_shiftHeld = input->modifiers().testFlag(Qt::ShiftModifier);

    const bool isMouse = isMouseEvent(type);
    const std::unique_ptr<QEvent> copy = windowCoordinatesCopy(*event, height());
    QEvent* routed = copy ? copy.get() : event;
    const auto consume = [this, event] {
        update();
        event->accept();
        return true;
    };

    if (isMouse && m_splittersEnabled && m_views.size() >= 2) {
        const SplitterDrag::Result result =
            m_splitter.handle(*static_cast<QMouseEvent*>(event), *this, m_views, m_shiftHeld);
        if (result != SplitterDrag::Result::NotHandled) {
            if (result == SplitterDrag::Result::Moved)
                m_relativeLayout = true;
            layoutOverlays();
            return consume();
        }
    }

    const bool isPress = type == QEvent::MouseButtonPress;
    const bool isRelease = type == QEvent::MouseButtonRelease;
    if (isMouse && m_grabbingOverlay) {
        const bool taken = m_grabbingOverlay->handleEvent(routed);
        if (isRelease)
            m_grabbingOverlay = nullptr;
        if (taken)
            return consume();
    }
    // The grabbing view gets its events once, here, before anybody else.
    InteractiveView* grabOffered = nullptr;
    if ((isMouse || isKeyEvent(type)) && m_grabbingView) {
        grabOffered = m_grabbingView;
        const bool taken = m_grabbingView->handleEvent(routed);
        if (isRelease)
            m_grabbingView = nullptr;
        if (taken)
            return consume();
    }

    const std::optional<QPoint> position = positionOf(copy.get());
    if (InteractiveOverlay* taker = firstTaker(
            m_overlays, overlayShown, routed, position)) {
        if (isPress) {
            m_grabbingOverlay = taker;
            m_grabbingView = nullptr;
        }
        return consume();
    }
    if (InteractiveView* taker = firstTaker(
            m_views,
            [grabOffered](const InteractiveView* v) { return v->visible() && v != grabOffered; },
            routed, position)) {
        if (isPress) {
            m_grabbingView = taker;
            m_grabbingOverlay = nullptr;
        }
        return consume();
    }

    if (isMouse) {
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
    }
    return QGLWidget::event(event);
}

void DisplayWidget::layout()
{
    const int w = width();
    const int h = height();
    if (m_layoutMode == ViewLayoutMode::Stacked) {
        for (InteractiveView* view : qAsConst(m_views))
            view->setRect(QRect(QPoint(0, 0), QPoint(w - 1, h - 1)));
    } else {
        QList<InteractiveView*> shown;
        for (InteractiveView* view : qAsConst(m_views))
            if (view->visible())
                shown.append(view);
        if (shown.isEmpty())
            return;
        if (m_relativeLayout && shown.size() > 1) {
            for (InteractiveView* view : qAsConst(m_views))
                view->setRect(relativeToPixels(view->relativeRect, w, h));
        } else {
            const std::vector<QRect> cells = gridLayout(shown.size(), w, h, m_layoutMode);
            if (cells.empty())
                return;
            for (int i = 0; i < shown.size(); ++i)
                shown[i]->setRect(cells[static_cast<std::size_t>(i)]);
        }
    }
    layoutOverlays();
    update();
}

void DisplayWidget::layoutOverlays()
{
    int offsets[4] = {0, 0, 0, 0};
    const QRect whole(QPoint(0, 0), QPoint(width() - 1, height() - 1));
    for (InteractiveOverlay* overlay : qAsConst(m_overlays)) {
        if (!overlayShown(overlay))
            continue;
        const QRect anchor = overlay->anchorView() ? overlay->anchorView()->rect() : whole;
        const InteractiveOverlay::AnchorPoint corner = overlay->anchorPoint();
        const int w = overlay->overlayWidth();
        const int h = overlay->overlayHeight();
        int& offset = offsets[corner];
        const bool left =
            corner == InteractiveOverlay::LowerLeft || corner == InteractiveOverlay::UpperLeft;
        const bool lower =
            corner == InteractiveOverlay::LowerLeft || corner == InteractiveOverlay::LowerRight;
        const int x = left ? anchor.left() + 3 : anchor.right() - w - 3;
        const int y = lower ? anchor.top() + offset + 3 : anchor.bottom() - offset - h - 3;
        overlay->setRect(QRect(x, y, w, h));
        offset += h;
    }
    update();
}

void DisplayWidget::resizeEvent(QResizeEvent* /*event*/)
{
    layout();
    layoutOverlays();
}

void DisplayWidget::paintScene()
{
    glClearColor(static_cast<float>(m_backgroundColor.redF()),
                 static_cast<float>(m_backgroundColor.greenF()),
                 static_cast<float>(m_backgroundColor.blueF()), 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    for (InteractiveView* view : qAsConst(m_views))
        view->paint();
    for (InteractiveOverlay* overlay : qAsConst(m_overlays))
        if (!overlay->anchorView() || overlay->anchorView()->visible())
            overlay->paint();
}

void DisplayWidget::paintGL()
{
    paintScene();
    if (m_recordEveryFrame)
        writeImage(grabFrameBuffer(false), nextFramePath());  // before the buffers are swapped
}

InteractiveOverlay* DisplayWidget::overlayAt(const QPoint& position) const
{
    for (InteractiveOverlay* overlay : m_overlays)
        if (overlayShown(overlay) && overlay->rect().contains(position))
            return overlay;
    return nullptr;
}

InteractiveView* DisplayWidget::viewAt(const QPoint& position) const
{
    for (InteractiveView* view : m_views)
        if (view->visible() && view->rect().contains(position))
            return view;
    return nullptr;
}

void DisplayWidget::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    if (InteractiveOverlay* overlay = overlayAt(event->pos())) {
        overlay->addContextMenuActions(&menu);
    } else if (InteractiveView* view = viewAt(event->pos())) {
        if (!view->showContextMenu)
            return;
        view->addContextMenuActions(&menu);
    }
    if (!menu.isEmpty())
        menu.exec(event->globalPos());
}

void DisplayWidget::saveScreenshot(const QString& path)
{
    writeImage(picture(), path);
}

QImage DisplayWidget::picture()
{
    // What was swapped to the screen is gone from the back buffer: draw the
    // frame again and read it before anything else draws.
    makeCurrent();
    paintScene();
    return grabFrameBuffer(false);
}

void DisplayWidget::writeImage(const QImage& image, const QString& path) const
{
    VELTRANE_INFO(path.toStdString());
    image.save(path);
}

QString DisplayWidget::nextFramePath()
{
    return m_framePattern.arg(m_frameCounter++, 5, 10, QLatin1Char('0'));
}

void DisplayWidget::recordFrame()
{
    saveScreenshot(nextFramePath());
}

void DisplayWidget::setRecording(bool enable, bool reset, bool continuous)
{
    if (reset)
        m_frameCounter = 0;
    if (continuous) {
        if (enable)
            m_recordTimer.start();
        else
            m_recordTimer.stop();
    } else {
        m_recordTimer.stop();
        m_recordEveryFrame = enable;
    }
}

void DisplayWidget::setRecordingOutputDir(const QString& path)
{
    m_framePattern = QDir(path).filePath(QStringLiteral("img_%1.png"));
}

}  // namespace Veltrane
