// The factory text file: the first of the candidate files on the system
// drive is copied into the report as its last section and left hidden.
#include <algorithm>
#include <cctype>

#include "core/ascii.h"
#include "report/encoding.h"
#include "report/text.h"
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

namespace {

// The end marker, found anywhere in a line, in any letter case.
bool holdsEndMarker(std::string_view line) {
    constexpr std::string_view kMarker = "end copy";
    return findIgnoringCase(line, kMarker) != std::string_view::npos;
}

}  // namespace

bool CopyTextFileToReport(const std::string& path, ScanContext& scan) {
    Frame frame(scan);
    Platform& platform = scan.platform;
    if (!platform.fileExists(path)) return false;

    if (auto cleared = platform.setAttributes(path, kAttributeNormal); !cleared.ok()) frame.fail(cleared.failure);
    frame.head(path);
    // A file that cannot be opened or read ends the copy where it stands; the
    // table is closed all the same and the file counts as copied.
    if (auto reader = platform.openTextFile(path)) {
        while (true) {
            auto line = (*reader)->readLine();
            if (!line) {
                frame.fail(line.failure());
                break;
            }
            if (!*line) break;  // end of the file
            const std::string& bytes = **line;
            if (!bytes.empty()) {
                const auto decoded = platform.decodeTextLine(bytes);
                frame.row("", EscapeMarkup(decoded ? *decoded : decodeCp1252(bytes)));
            }
            if (holdsEndMarker(bytes)) break;  // the marker line itself is written
        }
    } else {
        frame.fail(reader.failure());
    }
    frame.foot();
    if (auto hidden = platform.setAttributes(path, kAttributeHidden); !hidden.ok()) frame.fail(hidden.failure);
    return true;
}

void WriteSysBuilderSection(ScanContext& scan) {
    const std::string drive = scan.platform.systemDrive();
    for (const char* name : {"lang.txt", "reclang.txt", "868.dat"}) {
        if (CopyTextFileToReport(drive + name, scan)) return;
    }
}

}  // namespace veltrix
