// Whose scan a saved page is, from what the page shows: the enclosure, board
// and BIOS serial numbers and the MAC addresses of the adapters on a bus.
// Pages carry no host name nor SMBIOS UUID.
#pragma once

#include "core/machine_identity.h"
#include "data/report_model.h"

namespace veltrix::data {

MachineIdentity IdentityShownBy(const Report& report);

}  // namespace veltrix::data
