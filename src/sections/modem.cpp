// The "Modem" section: every modem with a caption, no spacer rows.
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

void WriteModemSection(ScanContext& scan) {
    constexpr std::string_view kTitle = "Modem";
    Frame frame(scan);
    frame.connect();
    frame.query(std::string("SELECT AttachedTo,Caption FROM Win32_POTSModem ") + "WHERE PNPDeviceID IS NOT NULL");
    frame.forEach([&](const wmi::Object& modem) {
        if (!frame.textGuard(modem, "Caption")) return;
        frame.headOnce(kTitle);
        frame.valueRow("Name", modem, "Caption");
        if (frame.textGuard(modem, "AttachedTo")) frame.valueRow("ModemCom", modem, "AttachedTo");
    });
    frame.finishLazy(kTitle, "Error: try to get Modem information ...");
}

}  // namespace veltrix
