#include "AppTestSupport.h"

#include "testsupport/Screenshots.h"

#include <QTest>

#include <gtest/gtest.h>

namespace Veltrane {

Mesh coloredQuad()
{
    Mesh mesh;
    mesh.vertices() = {Mesh::Vector(0, 0, 0), Mesh::Vector(1, 0, 0), Mesh::Vector(1, 1, 0),
                       Mesh::Vector(0, 1, 0)};
    mesh.colors() = {Mesh::Vector(1, 0, 0), Mesh::Vector(0, 1, 0), Mesh::Vector(0, 0, 1),
                     Mesh::Vector(1, 1, 1)};
    mesh.faces() = {Mesh::Triple(0, 1, 2), Mesh::Triple(0, 2, 3)};
    mesh.colorIndices() = mesh.faces();
    return mesh;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

void handleEventsFor(int milliseconds)
{
    QTest::qWait(milliseconds);
}

MessageBoxLog::MessageBoxLog(const QString& screenshotName, QMessageBox::StandardButton answer)
{
    m_previous = MessageBoxes::setRunner([this, screenshotName, answer](QMessageBox& box) {
        if (m_boxes.empty() && !screenshotName.isEmpty()) {
            box.show();
            if (!QTest::qWaitForWindowExposed(&box)) {
                ADD_FAILURE() << "message box not shown";
            }
            saveScreenshot(box, screenshotName);
        }
        m_boxes.push_back({box.icon(), box.windowTitle(), box.text(), box.textFormat()});
        return static_cast<int>(answer);
    });
}

MessageBoxLog::~MessageBoxLog()
{
    MessageBoxes::setRunner(m_previous);
}

}  // namespace Veltrane
