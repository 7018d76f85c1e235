// The problem devices section: every device with a device-manager error code,
// with a readable explanation of the code.
#include "report/text.h"
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

namespace {

std::string_view ProblemCodeMessage(double code) {
    struct Entry {
        int code;
        std::string_view message;
    };
    static constexpr Entry kMessages[] = {
        {1, "This device is not configured correctly."},
        {10, "This device cannot start."},
        {22, "This device is disabled."},
        {28, "The drivers for this device are not installed."},
        {31, "This device is not working properly because Windows cannot load the drivers required for this "
             "device."},
        {39, "Windows cannot load the device driver for this hardware. The driver may be corrupted or missing."},
        {43, "Windows has stopped this device because it has reported problems."},
        {48, "The software for this device has been blocked from starting because it is known to have problems "
             "with Windows."},
    };
    for (const auto& entry : kMessages) {
        if (entry.code == code) return entry.message;
    }
    return {};
}

}  // namespace

void WriteProblemDevicesSection(ScanContext& scan) {
    Frame frame(scan);
    frame.connect();
    frame.query("Select * from Win32_PnPEntity Where ConfigManagerErrorCode <> '0'");
    int listed = 0;
    frame.forEach([&](const wmi::Object& device) {
        // Looked up afresh for every device: a code outside the table gets
        // the empty message, whatever the device before it showed.
        std::string_view message;
        auto code = frame.read(device, "ConfigManagerErrorCode");
        double number = 0;
        if (code && code->toNumber(number)) message = ProblemCodeMessage(number);

        if (!frame.textGuard(device, "Name")) return;
        frame.headOnce("additional installed hardware");
        if (listed > 0) frame.spacer();
        if (auto name = frame.readText(device, "Name")) frame.row("<b>Name</b>", "<b>" + EscapeMarkup(*name) + "</b>");
        if (code) {
            if (auto digits = frame.textOf(*code)) {
                frame.row("Status", "Errorcode:" + EscapeMarkup(*digits) + "<p>" + std::string(message));
            }
        }
        auto service = frame.read(device, "Service");
        if (service && !service->isNull()) {
            auto text = frame.textOf(*service);
            if (text && !text->empty()) frame.row("Service", EscapeMarkup(*text) + std::string(kNbsp));
        }
        if (frame.lengthGuard(device, "DeviceID")) {
            if (auto id = frame.readText(device, "DeviceID")) {
                frame.row("DeviceID", EscapeMarkup(CutPnpDeviceId(*id)) + std::string(kNbsp));
            }
        }
        ++listed;
    });
    frame.finishLazy("not installed hardware");
}

}  // namespace veltrix
