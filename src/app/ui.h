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

}  // namespace veltrix
