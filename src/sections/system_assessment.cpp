// The "Windows System Assessment (Scoring)" section: the assessment's scores.
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

void WriteWinSatSection(ScanContext& scan) {
    Frame frame(scan);
    frame.connect();
    // The provider's default language and flags, unlike the other sections.
    frame.queryWithDefaults("Select * From Win32_WinSAT");
    frame.head("Windows System Assessment (Scoring)");
    frame.forEach([&](const wmi::Object& assessment) {
        frame.valueRow("Processor", assessment, "CPUScore");
        frame.valueRow("Memory", assessment, "MemoryScore");
        frame.valueRow("Primary hard disk", assessment, "DiskScore");
        frame.valueRow("Graphics", assessment, "GraphicsScore");
        frame.valueRow("Gaming graphics", assessment, "D3DScore");
        frame.valueRow("Windows System Performance Rating", assessment, "WinSPRLevel");
    });
    // Older systems have no assessment class: a plain "-" row, not the cause.
    if (frame.failed()) frame.row("-", "-" + std::string(kNbsp));
    frame.foot();
}

}  // namespace veltrix
