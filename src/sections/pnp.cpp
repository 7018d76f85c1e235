// The "PNP" section: PCI, USB and disk-controller devices and the maker's own
// devices, with the MAC address of network devices; and the MAC lookup.
#include "report/text.h"
#include "sections/collectors.h"
#include "sections/device_lookups.h"
#include "sections/frame.h"
#include "sections/signed_drivers.h"

namespace veltrix {

std::string QuoteWqlString(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

std::string GetMacAddressByName(ScanContext& scan, std::string_view adapterName) {
    std::string mac;
    Frame frame(scan, Frame::Mode::Lookup);
    frame.connect(wmi::kShortMoniker);
    frame.query("SELECT MACAddress FROM Win32_NetworkAdapter WHERE Name = '" + QuoteWqlString(adapterName) + "' ");
    // Only the first adapter of that name counts.
    frame.forEach([&](const wmi::Object& adapter) {
        if (frame.textGuard(adapter, "MACAddress")) {
            if (auto text = frame.readText(adapter, "MACAddress")) mac = *text;
        }
        return false;
    });
    return mac;
}

void WritePnpSection(ScanContext& scan) {
    Frame frame(scan);
    frame.connect(wmi::kShortMoniker);
    frame.query(signedDriverQuery(
        "(Location LIKE '%PCI%') OR DeviceClass='USB' OR DeviceClass='HDC' OR (DeviceID LIKE '%NRV0%')"));
    frame.head("PNP");
    // Counts every visited device, listed or not: a first device without a
    // name gives the first listed one a spacer.
    int visited = 0;
    frame.forEach([&](const wmi::Object& device) {
        if (frame.textGuard(device, "DeviceName")) {
            if (visited > 0) frame.spacer();
            writeDriverIdentityRows(frame, device);
            auto deviceClass = frame.read(device, "DeviceClass");
            if (!deviceClass || (deviceClass->isText() && deviceClass->asText() == "NET")) {
                if (auto name = frame.readText(device, "DeviceName")) {
                    std::string mac = GetMacAddressByName(scan, *name);
                    if (!mac.empty()) frame.row("MAC Address", EscapeMarkup(mac));
                }
            }
        }
        ++visited;
    });
    frame.errorRow();
    frame.foot();
}

}  // namespace veltrix
