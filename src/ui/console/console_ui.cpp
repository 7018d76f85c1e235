#include "ui/console/console_ui.h"

#include <algorithm>

namespace veltrix {

void ConsoleUi::messageBox(std::string_view text, MessageStyle style, std::string_view title) {
    if (barDrawn_) {
        std::fputs("\n", err_);
        barDrawn_ = false;
    }
    std::string_view caption = title.empty() ? kAppTitle : title;
    std::fprintf(err_, "%.*s%s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 style == MessageStyle::Critical ? " (error)" : "", static_cast<int>(text.size()), text.data());
    std::fflush(err_);
}

Status ConsoleUi::progressSetMessage(std::string_view message) {
    message_ = message;
    return {};
}

Status ConsoleUi::progressUpdate(std::int32_t percent) {
    if (!showProgress_) return {};
    int p = std::clamp(percent, 0, 100);
    constexpr int kWidth = 40;
    int filled = p * kWidth / 100;
    std::fprintf(err_, "\r%s [%s%s] %3d%%", message_.c_str(), std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, ' ').c_str(), p);
    std::fflush(err_);
    barDrawn_ = true;
    return {};
}

Status ConsoleUi::progressUnload() {
    if (barDrawn_) {
        std::fputs("\n", err_);
        std::fflush(err_);
        barDrawn_ = false;
    }
    return {};
}

}  // namespace veltrix
