#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AboutDialog;
}

namespace Veltrane {

/// The application's logo beside the product name and version, with an OK
/// button that Enter activates. A frameless window of its parent in the
/// top-widget style, fixed at its size hint.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

private:
    std::unique_ptr<Ui::AboutDialog> m_form;
};

}  // namespace Veltrane
