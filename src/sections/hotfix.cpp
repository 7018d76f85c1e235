// The "Hotfix" section: installed operating-system updates as a paired
// table, only when the hotfix check box is ticked.
#include "sections/collectors.h"
#include "sections/frame.h"
#include "sections/paired_table.h"

namespace veltrix {

void WriteHotfixSection(ScanContext& scan) {
    if (scan.checkBoxes.hotcheck() != 1) return;
    constexpr std::string_view kTitle = "Hotfix";

    PairedTable table;
    Frame frame(scan);
    frame.connect();
    frame.query("Select * from Win32_QuickFixEngineering Where HotFixID <> 'File 1'");
    frame.forEach([&](const wmi::Object& fix) {
        if (!frame.textGuard(fix, "HotFixID")) return;
        // A description that cannot be read is recorded as a failure and the
        // list is not written, so its cell text does not matter then.
        std::string description;
        if (frame.textGuard(fix, "Description")) {
            description = frame.readText(fix, "Description").value_or("");
        } else {
            description = "no Entry";
        }
        if (!frame.headWritten()) {
            frame.head(kTitle);
            table.addHeadings("Hotfix ID");
        }
        table.add(description, frame.readText(fix, "HotFixID").value_or(""));
    });
    // A failure after entries were listed drops the whole list: the section
    // then shows only its error row.
    if (frame.headWritten() && !frame.failed()) frame.row(kNbsp, table.finish());
    frame.finishLazy(kTitle);
}

}  // namespace veltrix
