// Starts the external diagnostics tool at the beginning of the scan and does
// not wait for it.
#include "sections/collectors.h"

namespace veltrix {

void RunAtview32(ScanContext& scan) {
    // No frame of its own: a tool that cannot be started leaves its failure
    // pending, and the next collector empties it on entry.
    Status started = scan.platform.startProcess(scan.platform.systemDrive() + "ATVIEW32.exe", "-scd");
    if (!started.ok()) scan.pending.set(started.failure);
}

}  // namespace veltrix
