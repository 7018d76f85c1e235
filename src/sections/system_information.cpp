// The "Systeminformation" section: the enclosure's serial number and the
// computer's product name, each block with its own connection and error row.
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

void WriteSystemInfoSection(ScanContext& scan) {
    Frame frame(scan);
    frame.connect();
    frame.query("SELECT SerialNumber FROM Win32_SystemEnclosure");
    frame.head("Systeminformation");
    frame.forEach([&](const wmi::Object& enclosure) {
        // Null shows as an empty value; only an empty text reads "Unkown".
        if (frame.conversionGuard(enclosure, "SerialNumber")) {
            frame.valueRow("Serial Number", enclosure, "SerialNumber");
        } else {
            frame.row("Serial Number", "Unkown&nbsp;");  // fixed output: "Unkown"
        }
    });
    frame.errorRow();

    frame.restart();
    frame.connect();
    frame.query("SELECT * FROM Win32_ComputerSystemProduct");
    frame.forEach([&](const wmi::Object& product) {
        if (frame.textGuard(product, "Name")) frame.valueRow("Product", product, "Name");
    });
    if (frame.failed()) {
        frame.messageBox("Error: try to get data in Modul 'Serial_Systemencl.'");
        frame.errorRow();
    }
    frame.foot();
}

}  // namespace veltrix
