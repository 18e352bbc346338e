#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

namespace Veltrane {

/// The application's modal message boxes: a fixed-size dialog without a native
/// frame, in the top-widget style, with the icon of its kind and one OK button
/// (a question: Yes and No). Each box is built on the stack, run, and
/// destroyed on return.
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
    /// A warning box, otherwise as showCritical().
    static int showWarning(QWidget* parent, const QString& title, const QString& text,
                           Qt::TextFormat format = Qt::AutoText);
    /// A question with the buttons Yes and No, captioned `yesText` and
    /// `noText` (an empty one keeps Qt's own caption); returns the runner's
    /// result, QMessageBox::Yes or QMessageBox::No from exec().
    static int askQuestion(QWidget* parent, const QString& title, const QString& text,
                           const QString& yesText, const QString& noText);

    /// Replaces the runner of every box shown from now on; an empty runner
    /// restores exec(). Returns the runner it replaces. GUI thread only.
    static Runner setRunner(Runner runner);

private:
    /// Builds a box with the buttons `buttons` and runs it.
    static int show(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                    const QString& text, Qt::TextFormat format,
                    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                    const QString& yesText = QString(), const QString& noText = QString());
};

}  // namespace Veltrane
