#include "app/MessageBoxes.h"

#include "app/TopWidgetStyle.h"

#include <QAbstractButton>

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

int MessageBoxes::showWarning(QWidget* parent, const QString& title, const QString& text,
                              Qt::TextFormat format)
{
    return show(parent, QMessageBox::Warning, title, text, format);
}

int MessageBoxes::askQuestion(QWidget* parent, const QString& title, const QString& text,
                              const QString& yesText, const QString& noText)
{
    return show(parent, QMessageBox::Question, title, text, Qt::AutoText,
                QMessageBox::Yes | QMessageBox::No, yesText, noText);
}

MessageBoxes::Runner MessageBoxes::setRunner(Runner runner)
{
    return std::exchange(currentRunner(), std::move(runner));
}

int MessageBoxes::show(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                       const QString& text, Qt::TextFormat format,
                       QMessageBox::StandardButtons buttons, const QString& yesText,
                       const QString& noText)
{
    QMessageBox box(parent);
    box.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::FramelessWindowHint);
    box.setTextFormat(format);
    box.setText(text);
    box.setWindowTitle(title);
    box.setStandardButtons(buttons);
    box.setIcon(icon);
    if (QAbstractButton* yes = box.button(QMessageBox::Yes); yes && !yesText.isEmpty())
        yes->setText(yesText);
    if (QAbstractButton* no = box.button(QMessageBox::No); no && !noText.isEmpty())
        no->setText(noText);
    applyTopWidgetStyle(box);
    const Runner& runner = currentRunner();
    return runner ? runner(box) : box.exec();
}

}  // namespace Veltrane
