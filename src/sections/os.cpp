// The "Operatingsystem" section: always present, the rows of every
// operating system with a caption.
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

void WriteOsSection(ScanContext& scan) {
    Frame frame(scan);
    frame.connect();
    frame.query("Select * from Win32_OperatingSystem");
    frame.head("Operatingsystem");
    frame.forEach([&](const wmi::Object& os) {
        if (!frame.textGuard(os, "Caption")) return;
        frame.valueRow("Name", os, "Caption");
        for (std::string_view property :
             {"BuildType", "CountryCode", "CSDVersion", "Version", "OSArchitecture"}) {
            if (frame.textGuard(os, property)) frame.valueRow(property, os, property);
        }
    });
    frame.errorRow();
    frame.foot();
}

}  // namespace veltrix
