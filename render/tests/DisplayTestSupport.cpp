#include "DisplayTestSupport.h"

#include "testsupport/GlTest.h"

#include <GL/glew.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace Veltrane {

bool RecordingInteraction::handleEvent(QEvent* event)
{
    if (!dynamic_cast<QInputEvent*>(event))
        return false;  // paints, focus changes and the like are no input
    Seen record{event->type(), {}, {}, Qt::NoButton, 0};
    if (auto* mouse = dynamic_cast<QMouseEvent*>(event)) {
        record.pos = mouse->pos();
        record.globalPos = mouse->globalPos();
        record.buttons = mouse->buttons();
    } else if (auto* wheel = dynamic_cast<QWheelEvent*>(event)) {
        record.pos = wheel->position().toPoint();
        record.globalPos = wheel->globalPosition().toPoint();
        record.buttons = wheel->buttons();
    } else if (auto* key = dynamic_cast<QKeyEvent*>(event)) {
        record.key = key->key();
    }
    seen.push_back(record);
    if (!consumed.count(event->type()))
        return false;
    event->accept();
    return true;
}

std::vector<RecordingInteraction::Seen> RecordingInteraction::of(QEvent::Type type) const
{
    std::vector<Seen> result;
    for (const Seen& s : seen)
        if (s.type == type)
            result.push_back(s);
    return result;
}

DisplayHarness::DisplayHarness(int width, int height)
{
    std::string why;
    if (!GlTestContext::makeCurrent(&why)) {  // the QApplication and GLEW
        ADD_FAILURE() << why;
        return;
    }
    m_widget = std::make_unique<DisplayWidget>();
    setWidget(m_widget.get());
    m_widget->resize(width, height);
    m_widget->show();
    m_ready = QTest::qWaitForWindowExposed(m_widget.get()) && m_widget->isValid();
    EXPECT_TRUE(m_ready) << "the display widget was not shown";
    m_widget->makeCurrent();
    while (glGetError() != GL_NO_ERROR) {
    }
}

DisplayHarness::~DisplayHarness()
{
    if (!m_widget)
        return;
    m_widget->makeCurrent();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "OpenGL error left pending";
    m_widget.reset();
    QApplication::processEvents();
}

namespace {

/// Handles events until `done` holds or 5 s passed; whether it holds.
bool waitFor(const std::function<bool()>& done)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done() && elapsed.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    QApplication::processEvents();
    return done();
}

}  // namespace

bool DisplayHarness::resize(int width, int height)
{
    m_widget->resize(width, height);
    return waitFor([&] { return m_widget->size() == QSize(width, height); });
}

bool DisplayHarness::moveTo(const QPoint& topLeft)
{
    m_widget->move(topLeft);
    m_widget->raise();
    return waitFor([&] { return m_widget->mapToGlobal(QPoint(0, 0)) == topLeft; });
}

void DisplayHarness::paint()
{
    m_widget->updateGL();
}

}  // namespace Veltrane
