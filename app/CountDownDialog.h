#pragma once

#include <QDialog>
#include <QTimer>

#include <memory>

class QPropertyAnimation;

namespace Ui {
class CountDownDialog;
}

namespace Veltrane {

/// Counts the start delay of a reconstruction down in whole seconds: a line
/// of text above a large number that drops by one every second and shrinks
/// from 100 points to 1 point meanwhile, so that each new number appears
/// large and falls away.
///
/// The owner calls setCount() with one second or more, shows the dialog and
/// calls start(). At zero the dialog emits timeout() and, with autoClose,
/// accepts (200 ms later with showZero, so that the "0" is seen). Rejecting
/// it (Cancel, Escape) hides it and emits canceled() but does not stop the
/// count: a cancelled count-down still accepts at zero unless stop() was
/// called, so the receiver of accepted() has to remember a cancellation.
/// The same dialog may be started again; setCount() restarts the count.
class CountDownDialog : public QDialog {
    Q_OBJECT
    Q_PROPERTY(int count READ count WRITE setCount NOTIFY countChanged)
    Q_PROPERTY(QString labelText READ labelText WRITE setLabelText)
    Q_PROPERTY(bool autoClose READ autoClose WRITE setAutoClose)
    Q_PROPERTY(bool showZero READ showZero WRITE setShowZero)
    Q_PROPERTY(int fontSize READ fontSize WRITE setFontSize)

public:
    explicit CountDownDialog(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~CountDownDialog() override;

    int count() const { return m_count; }
    QString labelText() const;
    bool autoClose() const { return m_autoClose; }
    bool showZero() const { return m_showZero; }
    /// The point size of the number.
    int fontSize() const;
    void setFontSize(int points);

public slots:
    /// Starts the one-second ticks and the number's animation.
    void start();
    /// Stops the ticks; the number and its size stay as they are.
    void stop();
    /// Seconds to count; shown at once. Emits countChanged().
    void setCount(int seconds);
    void setLabelText(const QString& text);
    void setAutoClose(bool close);
    void setShowZero(bool show);

signals:
    void countChanged(int count);
    /// The count has reached zero.
    void timeout();
    /// The dialog was rejected.
    void canceled();

private slots:
    void onCounterTimeout();

private:
    void showCount();

    std::unique_ptr<Ui::CountDownDialog> m_form;
    int m_count = 0;
    bool m_autoClose = true;
    bool m_showZero = true;
    QTimer m_timer;
    QPropertyAnimation* m_animation = nullptr;
};

}  // namespace Veltrane
