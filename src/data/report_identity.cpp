#include "data/report_identity.h"

#include <optional>
#include <string_view>

#include "core/ascii.h"

namespace veltrix::data {
namespace {

std::optional<std::string> firstValue(const Report& report, std::string_view section, std::string_view label) {
    for (const auto& s : report.sections) {
        if (s.title != section) continue;
        for (const auto& item : s.items) {
            for (const auto& row : item.rows) {
                if (row.label == label) return row.value;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

MachineIdentity IdentityShownBy(const Report& report) {
    MachineIdentity seen;
    seen.enclosureSerial = firstValue(report, "Systeminformation", "Serial Number");
    seen.boardSerial = firstValue(report, "Motherboard", "BaseBoard Serial");
    seen.biosSerial = firstValue(report, "Bios", "SerialNumber");
    for (const auto& s : report.sections) {
        if (s.title != "Networkdevices") continue;
        for (const auto& item : s.items) {
            std::optional<std::string_view> mac, device;
            for (const auto& row : item.rows) {
                if (row.label == "Mac-Address") mac = row.value;
                if (row.label == "PNPDeviceID") device = row.value;
            }
            // Adapters of no bus are software: tunnels, VPNs, virtual switches.
            const bool onBus = !device || equalsIgnoringCase(device->substr(0, 4), "PCI\\") ||
                               equalsIgnoringCase(device->substr(0, 4), "USB\\");
            if (mac && onBus) seen.macs.emplace_back(*mac);
        }
    }
    return UsableIdentity(seen);
}

}  // namespace veltrix::data
