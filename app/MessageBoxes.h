#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

namespace Veltrane {

/// The application's modal message boxes: a fixed-size dialog without a native
/// frame, in the top-widget style, with one OK button and the icon of its
/// kind. Each box is built on the stack, run, and destroyed on return.
///
/// Every box is run through one runner, exec() unless replaced: tests install
/// a runner that looks at the box and answers it without a user.
class MessageBoxes {
public:
    /// Runs a fully built box modally and returns what exec() would.
    using Runner = std::function<int(QMessageBox& box)>;

    /// A critical box; returns the runner's result. `format` decides how
    /// `text` is read: text that comes from outside the application must be
    /// shown as Qt::PlainText.
    static int showCritical(QWidget* parent, const QString& title, const QString& text,
                            Qt::TextFormat format = Qt::AutoText);
    /// An information box, otherwise as showCritical().
    static int showInformation(QWidget* parent, const QString& title, const QString& text,
                               Qt::TextFormat format = Qt::AutoText);

    /// Replaces the runner of every box shown from now on; an empty runner
    /// restores exec(). Returns the runner it replaces. GUI thread only.
    static Runner setRunner(Runner runner);

private:
    static int show(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                    const QString& text, Qt::TextFormat format);
};

}  // namespace Veltrane
