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
        // A guard whose own read fails counts as passed; the failure is
        // recorded and the list is then not written, so the cell texts of
        // such an entry never reach the page.
        auto id = frame.read(fix, "HotFixID");
        if (id && !Frame::isText(*id)) return;
        auto description = frame.read(fix, "Description");
        if (!frame.headWritten()) {
            frame.head(kTitle);
            table.addHeadings("Hotfix ID");
        }
        table.add(!description                  ? std::string_view()
                  : Frame::isText(*description) ? std::string_view(description->asText())
                                                : std::string_view("no Entry"),
                  id ? std::string_view(id->asText()) : std::string_view());
    });
    // A failure after entries were listed drops the whole list: the section
    // then shows only its error row.
    if (frame.headWritten() && !frame.failed()) frame.row(kNbsp, table.finish());
    frame.finishLazy(kTitle);
}

}  // namespace veltrix
