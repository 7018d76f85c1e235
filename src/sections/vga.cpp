// The "VGA" section: every video controller with its driver, video mode,
// colour depth and video memory; and the driver date conversion.
#include "sections/vga.h"

#include <cstdint>
#include <optional>

#include "report/formats.h"
#include "report/text.h"
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

namespace {

bool readDigits(std::string_view text, std::size_t from, std::size_t count, int& out) {
    out = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        out = out * 10 + (c - '0');
    }
    return true;
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// AdapterRAM is an unsigned 32-bit property. WMI hands it out as a signed
// 32-bit number, so every card of 2 GiB or more arrives negative, and larger
// cards report 0xFFF00000; a snapshot keeps a value above the signed range as
// its digits. Any of these is 1 to 2^32-1 bytes; 0 means unknown.
std::optional<std::uint32_t> adapterRamBytes(const wmi::Value& value) {
    if (value.isInt32()) {
        auto bytes = static_cast<std::uint32_t>(value.asInt32());
        return bytes ? std::optional<std::uint32_t>(bytes) : std::nullopt;
    }
    if (!value.isText()) return std::nullopt;
    // Digits only reach here for numbers beyond the signed range: a smaller
    // number would have arrived as one, so text such as "1280" is no size.
    const std::string& text = value.asText();
    if (text.empty() || text.size() > 10) return std::nullopt;
    std::uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (n <= 0x7FFFFFFFu || n > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<std::uint32_t>(n);
}

}  // namespace

Result<DateTime> ConvertWmiDate(std::string_view wmiDate) {
    DateTime when;
    bool digits = wmiDate.size() >= 14 && readDigits(wmiDate, 0, 4, when.year) &&
                  readDigits(wmiDate, 4, 2, when.month) && readDigits(wmiDate, 6, 2, when.day) &&
                  readDigits(wmiDate, 8, 2, when.hour) && readDigits(wmiDate, 10, 2, when.minute) &&
                  readDigits(wmiDate, 12, 2, when.second);
    bool valid = digits && when.year >= 1 && when.month >= 1 && when.month <= 12 && when.day >= 1 &&
                 when.day <= daysInMonth(when.year, when.month) && when.hour <= 23 && when.minute <= 59 &&
                 when.second <= 59;
    if (!valid) {
        // The text reaches the report's "Error" row: keep it page text.
        return Failure{failure_code::kTypeMismatch,
                       "Type mismatch: no valid date in \"" + EscapeMarkup(wmiDate.substr(0, 40)) + "\""};
    }
    return when;
}

std::string DriverDateText(const DateTime& when, const Locale& locale) {
    std::string text = locale.shortDate(when);
    if (when.hour != 0 || when.minute != 0 || when.second != 0) text += " " + locale.longTime(when);
    return text;
}

void WriteVgaSection(ScanContext& scan) {
    Frame frame(scan);
    frame.connect();
    frame.query("Select * from Win32_VideoController");
    frame.head("VGA");
    int listed = 0;
    frame.forEach([&](const wmi::Object& controller) {
        if (!frame.textGuard(controller, "Name")) return;
        if (listed > 0) frame.spacer();
        frame.valueRow("Name", controller, "Name");
        if (frame.textGuard(controller, "DeviceID")) frame.valueRow("DeviceID", controller, "DeviceID");
        if (frame.textGuard(controller, "PNPDeviceID")) {
            if (auto id = frame.readText(controller, "PNPDeviceID")) {
                frame.row("PNPDeviceID", EscapeMarkup(CutPnpDeviceId(*id)) + std::string(kNbsp));
            }
        }
        if (frame.textGuard(controller, "DriverVersion")) frame.valueRow("DriverVersion", controller, "DriverVersion");
        if (frame.textGuard(controller, "DriverDate")) {
            if (auto wmiDate = frame.readText(controller, "DriverDate")) {
                auto date = ConvertWmiDate(*wmiDate);
                if (date) {
                    frame.row("DriverDate", DriverDateText(*date, scan.locale) + std::string(kNbsp));
                } else {
                    frame.fail(date.failure());
                }
            }
        }
        // Both guards are tested, as both reads belong to the row.
        bool horizontal = frame.integerGuard(controller, "CurrentHorizontalResolution");
        bool vertical = frame.integerGuard(controller, "CurrentVerticalResolution");
        if (horizontal && vertical) {
            auto h = frame.readText(controller, "CurrentHorizontalResolution");
            auto v = frame.readText(controller, "CurrentVerticalResolution");
            if (h && v) frame.row("VideoMode", *h + " x " + *v);
        }
        if (frame.integerGuard(controller, "CurrentBitsPerPixel")) {
            frame.valueRow("Colour_bits", controller, "CurrentBitsPerPixel");
        }
        if (auto ram = frame.read(controller, "AdapterRAM")) {
            if (auto bytes = adapterRamBytes(*ram)) {
                frame.row("Video-RAM", formatNumberPattern(*bytes / 1024.0 / 1024.0) + " MB");
            }
        }
        ++listed;
    });
    if (frame.failed()) {
        frame.messageBox("Error: try to get vga data.");
        frame.errorRow();
    }
    frame.foot();
}

}  // namespace veltrix
