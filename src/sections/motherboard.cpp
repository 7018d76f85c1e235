// The "Motherboard" section: five blocks, each with its own connection. The
// first two (product and version) report no failures; the last three each
// end with their own message box and error row.
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

namespace {

constexpr std::string_view kDataBox = "Error: try to get motherboarddata in Modul 'MB'";

// One reported block: restart, query, one text-guarded row per object, then
// the block's own failure.
void reportedBlock(Frame& frame, std::string_view wql, std::string_view property, std::string_view label,
                   std::string_view boxText) {
    frame.restart();
    frame.connect();
    frame.query(wql);
    frame.forEach([&](const wmi::Object& object) {
        if (frame.textGuard(object, property)) frame.valueRow(label, object, property);
    });
    if (frame.failed()) {
        frame.messageBox(boxText);
        frame.errorRow();
    }
}

}  // namespace

void WriteMotherboardSection(ScanContext& scan) {
    Frame frame(scan);
    frame.head("Motherboard");

    frame.connect();
    frame.query("SELECT * FROM Win32_BaseBoard");
    frame.forEach([&](const wmi::Object& board) {
        if (frame.conversionGuard(board, "Product")) {
            frame.valueRow("Product", board, "Product");
            frame.valueRow("Version", board, "Version");
        } else {
            frame.row("Product", "Unkown&nbsp;");  // fixed output: "Unkown" as reports spell it
        }
    });

    frame.connect();
    frame.query("SELECT Version FROM Win32_BaseBoard");
    frame.forEach([&](const wmi::Object& board) {
        if (frame.conversionGuard(board, "Version")) {
            frame.valueRow("Boardversion", board, "Version");
        } else {
            frame.row("Boardversion", "Unkown&nbsp;");  // fixed output: "Unkown"
        }
    });

    reportedBlock(frame, "SELECT Manufacturer FROM Win32_BaseBoard", "Manufacturer", "Manufacturer (BaseBoard)",
                  kDataBox);
    reportedBlock(frame, "SELECT SerialNumber FROM Win32_BaseBoard", "SerialNumber", "BaseBoard Serial",
                  "Error: try to get Motherboardserial in Modul 'MB'");
    reportedBlock(frame, "SELECT Manufacturer FROM Win32_ComputerSystem", "Manufacturer", "Manufacturer (System)",
                  kDataBox);
    frame.foot();
}

}  // namespace veltrix
