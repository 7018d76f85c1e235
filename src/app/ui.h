// What the scan driver needs of the windows. The desktop front ends draw real
// windows; the batch front end prints to stderr; tests record the calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.h"
#include "core/messages.h"

namespace veltrix {

inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerHourglass = 11;

class Ui : public Messages {
public:
    virtual Status closeNameDialog() = 0;
    virtual Status setPointer(int pointer) = 0;

    // The progress window (frmUpdate).
    virtual Status progressSetCaption(std::string_view caption) = 0;
    // Colours are 0x00BBGGRR.
    virtual Status progressVisiblePicture(std::uint32_t backColor, std::uint32_t foreColor, bool bold) = 0;
    virtual Status progressSetMessage(std::string_view message) = 0;
    virtual Status progressShow() = 0;
    // Redraws the bar and yields once to the event loop.
    virtual Status progressUpdate(std::int32_t percent) = 0;
    virtual Status progressUnload() = 0;

    // Unloading the main window ends the program.
    virtual Status unloadMainWindow() = 0;
};

// A scan with no windows at all (an in-memory scan, the agent): every window
// call does nothing, and messages are dropped unless a subclass says more.
class WindowlessUi : public Ui {
public:
    void messageBox(std::string_view, MessageStyle, std::string_view) override {}
    Status closeNameDialog() override { return {}; }
    Status setPointer(int) override { return {}; }
    Status progressSetCaption(std::string_view) override { return {}; }
    Status progressVisiblePicture(std::uint32_t, std::uint32_t, bool) override { return {}; }
    Status progressSetMessage(std::string_view) override { return {}; }
    Status progressShow() override { return {}; }
    Status progressUpdate(std::int32_t) override { return {}; }
    Status progressUnload() override { return {}; }
    Status unloadMainWindow() override { return {}; }
};

}  // namespace veltrix
