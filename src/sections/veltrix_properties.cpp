// The "Veltrixproperties" section: this program's version and the time of
// the scan. No data source is asked.
#include "core/version.h"
#include "report/formats.h"
#include "report/text.h"
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

void WritePropertiesSection(ScanContext& scan) {
    Frame frame(scan);
    const std::string version = std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
                                std::to_string(kVersionPatch);
    if (!scan.scanTime) scan.scanTime = scan.platform.now();
    const std::string when = formatScanTime(*scan.scanTime, scan.locale);
    frame.head("Veltrixproperties");
    frame.row("Veltrix-Version", version + std::string(kNbsp));
    frame.row("Veltrix generated", EscapeMarkup(when) + std::string(kNbsp));
    frame.errorRow();
    frame.foot();
}

}  // namespace veltrix
