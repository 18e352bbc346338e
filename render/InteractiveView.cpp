#include "render/InteractiveView.h"

#include "render/GlView.h"
#include "render/Interaction.h"
#include "render/Manipulator.h"
#include "render/ViewGroup.h"

#include <GL/glew.h>

#include <QAction>
#include <QActionGroup>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>

#include <algorithm>

namespace Veltrane {

InteractiveView::InteractiveView(GlView* view) : m_glView(view)
{
    InteractiveView::createActions();
}

InteractiveView::~InteractiveView()
{
    m_glView->releaseGl();
}

void InteractiveView::createActions()
{
    auto* group = new QActionGroup(this);
    group->setExclusive(false);
    const auto add = [&](const char* name, const QString& text, bool checkable) {
        auto* action = new QAction(text, group);
        action->setCheckable(checkable);
        m_actions.insert(QString::fromLatin1(name), action);
        return action;
    };
    add("Reset", tr("Reset"), false)->setShortcut(QKeySequence(Qt::Key_R));
    add("Hide", tr("Hide"), false);
    add("Fullscreen", tr("Fullscreen"), true);
    add("Synchronize", tr("Synchronize"), true);
    connect(group, &QActionGroup::triggered, this, &InteractiveView::contextMenuEvaluate);
}

void InteractiveView::paint()
{
    if (!m_visible)
        return;
    if (!m_glInitialized) {
        m_glView->initializeGl();
        m_glInitialized = true;
    }
    const int x1 = m_rect.left(), y1 = m_rect.top(), x2 = m_rect.right(), y2 = m_rect.bottom();
    const int w = x2 - x1 + 1;
    const int h = y2 - y1 + 1;
    const double right = x2 - x1;
    const double top = y2 - y1;

    glViewport(x1, y1, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, right, 0.0, top, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);

    glColor3f(static_cast<float>(backgroundColor.redF()),
              static_cast<float>(backgroundColor.greenF()),
              static_cast<float>(backgroundColor.blueF()));
    glBegin(GL_QUADS);
    glVertex2d(0.0, 0.0);
    glVertex2d(right, 0.0);
    glVertex2d(right, top);
    glVertex2d(0.0, top);
    glEnd();

    if (drawBorder) {
        glColor3ub(static_cast<GLubyte>(borderColor.red()), static_cast<GLubyte>(borderColor.green()),
                   static_cast<GLubyte>(borderColor.blue()));
        glBegin(GL_LINE_STRIP);
        glVertex2d(1.0, 1.0);
        glVertex2d(right - 1.0, 1.0);
        glVertex2d(right - 1.0, top - 1.0);
        glVertex2d(1.0, top - 1.0);
        glVertex2d(1.0, 1.0);
        glEnd();
        glViewport(x1 + 2, y1 + 2, w - 4, h - 4);
    }

    glEnable(GL_SCISSOR_TEST);
    glScissor(x1, y1, w, h);
    glClear(GL_DEPTH_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);

    m_glView->render();
}

void InteractiveView::setRect(const QRect& rect)
{
    if (rect == m_rect)
        return;
    m_rect = rect;
    // A rectangle too small for its frame leaves the scene no room at all.
    const int frame = drawBorder ? 4 : 0;
    m_glView->resize(std::max(rect.width() - frame, 0), std::max(rect.height() - frame, 0));
    emit rectChanged(m_rect);
}

void InteractiveView::setVisible(bool visible)
{
    if (visible == m_visible)
        return;
    m_visible = visible;
    emit visibilityChanged(visible);
}

void InteractiveView::setManipulator(GlObject* object, Manipulator* manipulator)
{
    if (manipulator)
        m_manipulators.insert(object, manipulator);
    else
        m_manipulators.remove(object);
}

bool InteractiveView::handleEvent(QEvent* event)
{
    bool consumed = false;
    for (GlObject* object : m_glView->objects()) {
        Manipulator* manipulator = m_manipulators.value(object);
        if (manipulator && manipulator->handleEvent(event, m_glView.get())) {
            consumed = true;
            break;
        }
    }
    consumed = consumed || (interaction && interaction->handleEvent(event));
    if (!consumed && event->type() == QEvent::KeyPress &&
        handleShortcut(static_cast<QKeyEvent*>(event))) {
        event->accept();
        consumed = true;
    }
    if (consumed)
        emit updateRequested();
    return consumed;
}

bool InteractiveView::handleShortcut(QKeyEvent* event)
{
    const QKeySequence key(event->key());
    bool triggered = false;
    for (QAction* action : qAsConst(m_actions)) {
        if (action->shortcut().matches(key) == QKeySequence::ExactMatch) {
            action->activate(QAction::Trigger);
            triggered = true;
        }
    }
    return triggered;
}

void InteractiveView::addContextMenuActions(QMenu* menu)
{
    if (!showContextMenu)
        return;
    menu->addAction(m_actions.value(QStringLiteral("Reset")));
    menu->addAction(m_actions.value(QStringLiteral("Hide")));
    if (viewGroup) {
        QAction* synchronize = m_actions.value(QStringLiteral("Synchronize"));
        synchronize->setChecked(viewGroup->contains(this));
        menu->addAction(synchronize);
    }
}

void InteractiveView::reset()
{
    if (interaction)
        interaction->reset();
    emit updateRequested();
}

void InteractiveView::contextMenuEvaluate(QAction* action)
{
    if (!action)
        return;
    if (action == m_actions.value(QStringLiteral("Reset"))) {
        if (viewGroup && viewGroup->contains(this))
            viewGroup->resetAll();
        else
            reset();
    } else if (action == m_actions.value(QStringLiteral("Hide"))) {
        setVisible(false);
    } else if (action == m_actions.value(QStringLiteral("Synchronize"))) {
        if (!viewGroup)
            return;
        if (action->isChecked())
            viewGroup->addView(this);
        else
            viewGroup->removeView(this);
        emit updateRequested();
    }
}

}  // namespace Veltrane
