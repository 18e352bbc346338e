#include "app/CountDownDialog.h"

#include "ui_CountDownDialog.h"

#include <QPropertyAnimation>

namespace Veltrane {

namespace {

constexpr int largeNumberPoints = 100;
constexpr int smallNumberPoints = 1;
constexpr int shrinkMilliseconds = 900;
constexpr int tickMilliseconds = 1000;
/// How long the "0" stays on screen before the dialog closes by itself.
constexpr int zeroShownMilliseconds = 200;

}  // namespace

CountDownDialog::CountDownDialog(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags),
      m_form(std::make_unique<Ui::CountDownDialog>())
{
    m_form->setupUi(this);
    // The animation reads the number's size, which the form sets up.
    m_animation = new QPropertyAnimation(this, "fontSize", this);
    connect(this, &QDialog::rejected, this, &CountDownDialog::canceled);
    connect(&m_timer, &QTimer::timeout, this, &CountDownDialog::onCounterTimeout);

    m_animation->setEasingCurve(QEasingCurve::InBack);
    m_animation->setDuration(shrinkMilliseconds);
    m_animation->setStartValue(largeNumberPoints);
    m_animation->setEndValue(smallNumberPoints);
}

CountDownDialog::~CountDownDialog() = default;

QString CountDownDialog::labelText() const
{
    return m_form->label->text();
}

int CountDownDialog::fontSize() const
{
    return m_form->timer->font().pointSize();
}

void CountDownDialog::setFontSize(int points)
{
    QFont font = m_form->timer->font();
    font.setPointSize(points);
    m_form->timer->setFont(font);
}

void CountDownDialog::start()
{
    m_timer.start();
    m_animation->start();
}

void CountDownDialog::stop()
{
    m_timer.stop();
}

void CountDownDialog::setCount(int seconds)
{
    m_count = seconds;
    showCount();
    m_timer.setInterval(tickMilliseconds);
    emit countChanged(m_count);
}

void CountDownDialog::setLabelText(const QString& text)
{
    m_form->label->setText(text);
}

void CountDownDialog::setAutoClose(bool close)
{
    m_autoClose = close;
}

void CountDownDialog::setShowZero(bool show)
{
    m_showZero = show;
}

void CountDownDialog::showCount()
{
    m_form->timer->setText(QString::number(m_count));
}

void CountDownDialog::onCounterTimeout()
{
    --m_count;
    showCount();
    emit countChanged(m_count);
    if (m_count != 0) {
        m_animation->start();
        return;
    }

    m_timer.stop();
    emit timeout();
    if (!m_autoClose)
        return;
    setFontSize(largeNumberPoints);
    if (m_showZero)
        QTimer::singleShot(zeroShownMilliseconds, this, &QDialog::accept);
    else
        accept();
}

}  // namespace Veltrane
