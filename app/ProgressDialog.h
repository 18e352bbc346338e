#pragma once

#include "core/Progress.h"
#include "core/Stopwatch.h"

#include <memory>

class QProgressDialog;

namespace Veltrane {

/// Lets an operation that runs on the GUI thread and reports its advance
/// through `Progress` drive a progress dialog, for as long as the adapter
/// lives.
///
/// The dialog shows itself, as a QProgressDialog does once the work has
/// lasted longer than its minimum duration. Pending events are processed only
/// when a report comes 50 ms or more after the previous one (the first: after
/// construction): a stream of quick reports costs no event processing, a
/// slow step lets the windows repaint. Whoever drives the adapter must make
/// sure that nothing those events start can touch what the operation uses.
class ProgressDialog final : public Progress {
public:
    /// Takes over `dialog`, created and configured by the caller, and starts
    /// timing; the dialog is deleted with the adapter.
    explicit ProgressDialog(QProgressDialog* dialog);
    ~ProgressDialog();
    ProgressDialog(const ProgressDialog&) = delete;
    ProgressDialog& operator=(const ProgressDialog&) = delete;

    /// Shows `value` of `maximum` (a new maximum is passed on once); true
    /// when the user has cancelled the dialog.
    bool setProgress(int value, int maximum) override;

    /// Reports that come closer together than this process no events.
    static constexpr double eventInterval = 50.0;

private:
    int m_maximum;
    std::unique_ptr<QProgressDialog> m_dialog;
    Stopwatch m_stopwatch;
};

}  // namespace Veltrane
