#include "app/main_window_logic.h"

namespace veltrix {

bool MainWindowLogic::allows(MainWindowAction) const { return !scanning_; }

bool MainWindowLogic::runScan(const std::function<void()>& scan) {
    if (scanning_ || !scan) return false;
    // Cleared on every way out, so that a scan that throws cannot leave the
    // window refusing everything for good.
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{scanning_};
    scanning_ = true;
    scan();
    return true;
}

}  // namespace veltrix
