// The report name dialog: proposes the enclosure serial, refuses characters a
// file name cannot hold (typed or pasted), and on OK starts the scan.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <functional>

#include "app/scan_state.h"
#include "app/ui.h"
#include "core/platform.h"
#include "wmi/service.h"

namespace veltrix::qt {

class NameDialog final : public QDialog {
    Q_OBJECT
public:
    NameDialog(ScanState& state, Platform& platform, wmi::Service& wmi, Ui& ui, std::function<void()> runScan,
               QWidget* parent = nullptr);

    // Loading: the field is emptied and the proposal asked for.
    void load();
    // Closing by the program (the scan's first act) or by Cancel.
    void unload();
    bool loaded() const { return loaded_; }

    QLineEdit* nameField() const { return field_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

    // The window's close button unloads it like Cancel.
    void reject() override { unload(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void confirm();

    ScanState& state_;
    Platform& platform_;
    wmi::Service& wmi_;
    Ui& ui_;
    std::function<void()> runScan_;
    QLineEdit* field_;
    QLabel* label_;
    QPushButton* ok_;
    QPushButton* cancel_;
    bool loaded_ = false;
};

}  // namespace veltrix::qt
