#include "sections/signed_drivers.h"

#include "report/text.h"

namespace veltrix {

void writeDriverIdentityRows(Frame& frame, const wmi::Object& device) {
    frame.valueRow("DeviceName", device, "DeviceName");
    if (frame.textGuard(device, "DriverVersion")) frame.valueRow("DriverVersion", device, "DriverVersion");
    if (frame.textGuard(device, "DeviceID")) {
        if (auto id = frame.readText(device, "DeviceID")) {
            frame.row("PNPDeviceID", EscapeMarkup(CutPnpDeviceId(*id)) + std::string(kNbsp));
        }
    }
}

}  // namespace veltrix
