// The main window: the two inventory switches, the comment button, the
// report button and Exit. It answers the sections' check-box questions with
// the boxes' state at the moment they ask.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <functional>

#include "app/main_window_logic.h"
#include "app/scan_state.h"
#include "app/ui.h"
#include "core/platform.h"
#include "wmi/service.h"

namespace veltrix::qt {

class NameDialog;
class CommentDialog;

// Runs one scan with the given state and the live check boxes.
using ScanRunner = std::function<void(ScanState&, const CheckBoxes&)>;

class MainWindow final : public QWidget, public CheckBoxes {
    Q_OBJECT
public:
    MainWindow(ScanState& state, Platform& platform, wmi::Service& wmi, Ui& ui, ScanRunner runScan);
    ~MainWindow() override;

    int hotcheck() const override { return hot_->isChecked() ? 1 : 0; }
    int swcheck() const override { return sw_->isChecked() ? 1 : 0; }

    // Program start: hourglass, the start-up window for the moment of
    // loading, then this window, default pointer.
    void startUp();

    // Unloading ends the program: every window of the program goes.
    void unload();

    QPushButton* exitButton() const { return exit_; }
    QPushButton* createReportButton() const { return create_; }
    QPushButton* addCommentButton() const { return comment_; }
    QCheckBox* hotfixBox() const { return hot_; }
    QCheckBox* softwareBox() const { return sw_; }
    NameDialog* nameDialog() const { return nameDialog_; }
    bool scanning() const { return logic_.scanning(); }

signals:
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showNameDialog();
    void showCommentDialog();
    void runScan();

    ScanState& state_;
    Platform& platform_;
    wmi::Service& wmi_;
    Ui& ui_;
    ScanRunner runScan_;
    QPushButton* exit_;
    QPushButton* create_;
    QCheckBox* sw_;
    QCheckBox* hot_;
    QPushButton* comment_;
    QLabel* logo_;
    NameDialog* nameDialog_ = nullptr;
    MainWindowLogic logic_;
    bool unloaded_ = false;
};

}  // namespace veltrix::qt
