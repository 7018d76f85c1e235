// The Ui port on Qt widgets: message boxes, the screen pointer, the progress
// window and the two windows the scan closes.
#pragma once

#include <QPointer>
#include <functional>
#include <memory>

#include "app/ui.h"

namespace veltrix::qt {

class MainWindow;
class ProgressWindow;

// Shows one message box and returns when it is closed. Tests put a recorder
// here so that nothing waits for a click.
using MessagePresenter = std::function<void(std::string_view text, MessageStyle style, std::string_view title)>;

class QtUi final : public Ui {
public:
    QtUi();
    ~QtUi() override;

    void attach(MainWindow* mainWindow) { main_ = mainWindow; }
    void setMessagePresenter(MessagePresenter presenter) { presenter_ = std::move(presenter); }

    void messageBox(std::string_view text, MessageStyle style, std::string_view title = {}) override;
    Status closeNameDialog() override;
    Status setPointer(int pointer) override;
    Status progressSetCaption(std::string_view caption) override;
    Status progressVisiblePicture(std::uint32_t backColor, std::uint32_t foreColor, bool bold) override;
    Status progressSetMessage(std::string_view message) override;
    Status progressShow() override;
    Status progressUpdate(std::int32_t percent) override;
    Status progressUnload() override;
    Status unloadMainWindow() override;

    // The progress window, loaded on first use as any reference to it does.
    ProgressWindow& progress();

private:
    QPointer<MainWindow> main_;
    std::unique_ptr<ProgressWindow> progress_;
    MessagePresenter presenter_;
};

// The real message box: OK only, the critical-stop icon for the critical
// style, the application's title unless one is given.
void showMessageBox(std::string_view text, MessageStyle style, std::string_view title);

}  // namespace veltrix::qt
