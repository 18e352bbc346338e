#include "WindowTestSupport.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>

namespace Veltrane {

AnsweredBoxes::AnsweredBoxes(int answer) : m_answer(answer)
{
    m_previous = setModalRunner([this](QDialog& dialog) {
        auto* box = qobject_cast<QMessageBox*>(&dialog);
        if (!box)
            return int(QDialog::Rejected);
        ShownBox shown;
        shown.icon = box->icon();
        shown.title = box->windowTitle();
        shown.text = box->text();
        shown.objectName = box->objectName();
        shown.styleSheet = box->styleSheet();
        shown.flags = box->windowFlags();
        for (QAbstractButton* button : box->buttons())
            shown.buttonTexts.push_back(button->text());
        m_boxes.push_back(shown);
        if (m_onShow) {
            box->show();
            QCoreApplication::processEvents();
            m_onShow(*box);
            box->hide();
        }
        return m_answer;
    });
}

AnsweredBoxes::~AnsweredBoxes()
{
    setModalRunner(std::move(m_previous));
}

std::size_t AnsweredBoxes::count(const QString& title) const
{
    std::size_t n = 0;
    for (const ShownBox& box : m_boxes)
        n += box.title == title ? 1 : 0;
    return n;
}

bool processEventsUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

QString screenshotFolder()
{
    const QString folder = KORVASTEL_SCREENSHOTS;
    QDir().mkpath(folder);
    return folder;
}

}  // namespace Veltrane
