#pragma once

#include <functional>

class QDialog;
class QWidget;

namespace Veltrane {

/// Runs a modal dialog and returns its result. The application's runner is
/// QDialog::exec(); tests put one in its place that answers instead of the
/// user.
using ModalRunner = std::function<int(QDialog&)>;

/// Runs `dialog` (a message box, for one) through the current runner.
int runModal(QDialog& dialog);

/// Puts `runner` in place (an empty one restores exec()) and returns the
/// runner it replaces.
ModalRunner setModalRunner(ModalRunner runner);

/// Gives a frameless dialog or message box the application's dialog look: the
/// object name "topWidget" and a white 2-pixel outline.
void styleAsTopWidget(QWidget& dialog);

}  // namespace Veltrane
