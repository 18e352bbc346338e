#pragma once

#include "app/MessageBoxes.h"
#include "core/Mesh.h"

#include <QString>

#include <functional>
#include <vector>

namespace Veltrane {

/// Two coloured triangles: a mesh every writer takes.
Mesh coloredQuad();

/// Waits, handling events, until `condition` holds; false after `timeoutMs`.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
/// Handles events for `milliseconds`: time for anything late to arrive.
void handleEventsFor(int milliseconds);

/// Answers every message box shown while it exists with `answer` (OK unless
/// given) and remembers what each one said; the first box is also saved as a
/// screenshot when a name is given.
class MessageBoxLog {
public:
    struct Box {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        Qt::TextFormat format;
    };

    explicit MessageBoxLog(const QString& screenshotName = QString(),
                           QMessageBox::StandardButton answer = QMessageBox::Ok);
    ~MessageBoxLog();
    MessageBoxLog(const MessageBoxLog&) = delete;
    MessageBoxLog& operator=(const MessageBoxLog&) = delete;

    const std::vector<Box>& boxes() const { return m_boxes; }

private:
    std::vector<Box> m_boxes;
    MessageBoxes::Runner m_previous;
};

}  // namespace Veltrane
