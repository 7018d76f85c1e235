#include "ui/qt/qt_ui.h"

#include <QApplication>
#include <QMessageBox>

#include "ui/qt/main_window.h"
#include "ui/qt/name_dialog.h"
#include "ui/qt/progress_window.h"
#include "ui/qt/qt_text.h"

namespace veltrix::qt {

namespace {

Failure noWindow(const char* what) {
    return Failure{failure_code::kObjectRequired, std::string("Object required: ") + what};
}

}  // namespace

void showMessageBox(std::string_view text, MessageStyle style, std::string_view title) {
    QMessageBox box(style == MessageStyle::Critical ? QMessageBox::Critical : QMessageBox::NoIcon,
                    toQString(title.empty() ? kAppTitle : title), toQString(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

QtUi::QtUi() : presenter_(showMessageBox) {}

QtUi::~QtUi() = default;

void QtUi::messageBox(std::string_view text, MessageStyle style, std::string_view title) {
    // The box must be readable, so no hourglass over it.
    const bool waiting = QApplication::overrideCursor() != nullptr;
    if (waiting) QApplication::restoreOverrideCursor();
    presenter_(text, style, title);
    if (waiting) QApplication::setOverrideCursor(Qt::WaitCursor);
}

Status QtUi::closeNameDialog() {
    if (!main_) return noWindow("frmcuz");
    main_->nameDialog()->unload();
    return {};
}

Status QtUi::setPointer(int pointer) {
    if (pointer == kPointerHourglass) {
        if (!QApplication::overrideCursor()) QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (pointer == kPointerDefault) {
        while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
    } else {
        return Failure{failure_code::kInvalidArgument, "Invalid property value"};
    }
    return {};
}

ProgressWindow& QtUi::progress() {
    if (!progress_) progress_ = std::make_unique<ProgressWindow>();
    progress_->load();
    return *progress_;
}

Status QtUi::progressSetCaption(std::string_view caption) {
    progress().setWindowTitle(toQString(caption));
    return {};
}

Status QtUi::progressVisiblePicture(std::uint32_t backColor, std::uint32_t foreColor, bool bold) {
    progress().bar()->prepare(backColor, foreColor, bold);
    return {};
}

Status QtUi::progressSetMessage(std::string_view message) {
    progress().hint()->setText(toQString(message));
    return {};
}

Status QtUi::progressShow() {
    ProgressWindow& window = progress();
    window.show();
    window.raise();
    return {};
}

Status QtUi::progressUpdate(std::int32_t percent) {
    progress().updateStatus(percent);
    return {};
}

Status QtUi::progressUnload() {
    if (progress_) progress_->unload();
    return {};
}

Status QtUi::unloadMainWindow() {
    if (!main_) return noWindow("frmMain");
    main_->unload();
    return {};
}

}  // namespace veltrix::qt
