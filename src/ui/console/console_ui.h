// The Ui port without windows: message boxes become lines on stderr (never a
// wait), progress is a one-line bar on stderr when it is a terminal.
#pragma once

#include <cstdio>
#include <string>

#include "app/ui.h"

namespace veltrix {

class ConsoleUi final : public Ui {
public:
    explicit ConsoleUi(std::FILE* err = stderr, bool showProgress = false) : err_(err), showProgress_(showProgress) {}

    void messageBox(std::string_view text, MessageStyle style, std::string_view title = {}) override;
    Status closeNameDialog() override { return {}; }
    Status setPointer(int) override { return {}; }
    Status progressSetCaption(std::string_view) override { return {}; }
    Status progressVisiblePicture(std::uint32_t, std::uint32_t, bool) override { return {}; }
    Status progressSetMessage(std::string_view message) override;
    Status progressShow() override { return {}; }
    Status progressUpdate(std::int32_t percent) override;
    Status progressUnload() override;
    Status unloadMainWindow() override { return {}; }

private:
    std::FILE* err_;
    bool showProgress_;
    bool barDrawn_ = false;
    std::string message_;
};

}  // namespace veltrix
