#include "app/ModalRunner.h"

#include <QDialog>

namespace Veltrane {

namespace {

ModalRunner& currentRunner()
{
    static ModalRunner runner;
    return runner;
}

}  // namespace

int runModal(QDialog& dialog)
{
    const ModalRunner& runner = currentRunner();
    return runner ? runner(dialog) : dialog.exec();
}

ModalRunner setModalRunner(ModalRunner runner)
{
    ModalRunner previous = std::move(currentRunner());
    currentRunner() = std::move(runner);
    return previous;
}

void styleAsTopWidget(QWidget& dialog)
{
    dialog.setObjectName("topWidget");
    dialog.setStyleSheet("QWidget#topWidget { border:2px solid white; }");
}

}  // namespace Veltrane
