// The main window's behaviour while a scan runs, shared by the desktop front
// ends. A scan pumps the event loop at every progress update and while its
// final message box is open, so the window's buttons stay live: without this
// rule a second "create report" could start a scan inside the running one
// (truncating the file it writes), and Exit could destroy the check boxes the
// scan still reads.
#pragma once

#include <functional>

#include "core/check_boxes.h"

namespace veltrix {

enum class MainWindowAction { CreateReport, AddComment, Exit, Close };

class MainWindowLogic {
public:
    // True while a scan started through runScan() has not returned.
    bool scanning() const { return scanning_; }

    // Whether the user may do `action` now: none of them while a scan runs.
    // The scan itself still unloads the window when it ends; that is not a
    // user action and does not pass through here.
    bool allows(MainWindowAction action) const;

    // Runs `scan` with the scanning state held for its whole length. A call
    // while a scan runs does nothing and returns false.
    bool runScan(const std::function<void()>& scan);

private:
    bool scanning_ = false;
};

}  // namespace veltrix
