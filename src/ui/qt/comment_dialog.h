// The comment dialog, opened modally from the main window.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/scan_state.h"

namespace veltrix::qt {

class CommentDialog final : public QDialog {
    Q_OBJECT
public:
    CommentDialog(ScanState& state, QWidget* parent = nullptr);

    QLineEdit* commentField() const { return field_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

private:
    void confirm();

    ScanState& state_;
    QLineEdit* field_;
    QPushButton* ok_;
    QPushButton* cancel_;
};

}  // namespace veltrix::qt
