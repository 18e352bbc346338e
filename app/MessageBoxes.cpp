#include "app/MessageBoxes.h"

#include "app/TopWidgetStyle.h"

#include <utility>

namespace Veltrane {
namespace {

MessageBoxes::Runner& currentRunner()
{
    static MessageBoxes::Runner runner;
    return runner;
}

}  // namespace

int MessageBoxes::showCritical(QWidget* parent, const QString& title, const QString& text,
                               Qt::TextFormat format)
{
    return show(parent, QMessageBox::Critical, title, text, format);
}

int MessageBoxes::showInformation(QWidget* parent, const QString& title, const QString& text,
                                  Qt::TextFormat format)
{
    return show(parent, QMessageBox::Information, title, text, format);
}

MessageBoxes::Runner MessageBoxes::setRunner(Runner runner)
{
    return std::exchange(currentRunner(), std::move(runner));
}

int MessageBoxes::show(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                       const QString& text, Qt::TextFormat format)
{
    QMessageBox box(parent);
    box.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::FramelessWindowHint);
    box.setTextFormat(format);
    box.setText(text);
    box.setWindowTitle(title);
    box.setStandardButtons(QMessageBox::Ok);
    box.setIcon(icon);
    applyTopWidgetStyle(box);
    const Runner& runner = currentRunner();
    return runner ? runner(box) : box.exec();
}

}  // namespace Veltrane
