// Reads what identifies this computer from the data source the scan used, so
// that a saved snapshot says whose it is. It asks the source directly, not
// through a recorder: the snapshot keeps only what the sections asked.
#pragma once

#include "core/machine_identity.h"
#include "wmi/service.h"

namespace veltrix {

// Host name, SMBIOS UUID, enclosure, board and BIOS serials and the MAC
// addresses of the physical network adapters; whatever cannot be read is
// left absent, and placeholders are dropped.
MachineIdentity ReadMachineIdentity(wmi::Service& service);

}  // namespace veltrix
