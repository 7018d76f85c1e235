// The "Security" section: biometric, security and smart-card devices.
#include "sections/collectors.h"
#include "sections/frame.h"
#include "sections/signed_drivers.h"

namespace veltrix {

void WriteSecuritySection(ScanContext& scan) {
    Frame frame(scan);
    frame.connect(wmi::kShortMoniker);
    frame.query(signedDriverQuery(
        "(DeviceClass='Biometricdevice') OR DeviceClass='Securitydevices' OR DeviceClass='SMARTCARDreader'"));
    int visited = 0;
    frame.forEach([&](const wmi::Object& device) {
        if (visited == 0) frame.head("Security");
        if (frame.textGuard(device, "DeviceName")) {
            if (visited > 0) frame.spacer();
            frame.valueRow("DeviceName", device, "DeviceName");
            if (frame.textGuard(device, "DriverVersion")) frame.valueRow("DriverVersion", device, "DriverVersion");
            // The full id: a security device is shown by its instance.
            if (frame.textGuard(device, "DeviceID")) frame.valueRow("PNPDeviceID", device, "DeviceID");
        }
        ++visited;
    });
    // Failures show only as missing rows.
    if (frame.headWritten()) frame.foot();
}

}  // namespace veltrix
