// The "CPU" section: one block per processor; numbers are written as the
// data source gives them (MHz, KB, counts).
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

void WriteCpuSection(ScanContext& scan) {
    constexpr std::string_view kTitle = "CPU";
    Frame frame(scan);
    frame.connect();
    frame.query("Select * from Win32_Processor");
    // Counts every processor object, listed or not: an unlisted first object
    // puts a spacer right under the head.
    int seen = 0;
    frame.forEach([&](const wmi::Object& cpu) {
        auto id = frame.read(cpu, "DeviceID");
        if (!id || id->isText()) {  // any text, even empty; an unreadable id passes
            frame.headOnce(kTitle);
            if (seen > 0) frame.spacer();
            const std::pair<std::string_view, std::string_view> rows[] = {
                {"Name", "Name"},
                {"DeviceID", "DeviceID"},
                {"NumberOfCores", "NumberOfCores"},
                {"NumberOfLogicalProcessors", "NumberOfLogicalProcessors"},
                {"MaxClockSpeed", "MaxClockSpeed"},
                {"Device Type", "Description"},
                {"L2CacheSize", "L2CacheSize"},
            };
            for (const auto& [label, property] : rows) {
                if (frame.lengthGuard(cpu, property)) frame.valueRow(label, cpu, property);
            }
        }
        ++seen;
    });
    frame.finishLazy(kTitle);
}

}  // namespace veltrix
