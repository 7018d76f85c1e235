// Display controllers (PCI display class) with their current video mode
// from the framebuffer, else the preferred mode of a connected display.
#include <algorithm>
#include <cctype>

#include "providers/linux/class_builders.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

using wmi::PropertyObject;
using wmi::Value;

namespace {
struct Mode {
    std::optional<std::uint64_t> width, height, bitsPerPixel;
};

// "1920,1080" or "1920x1080" (a mode name may carry a suffix such as "i").
bool parseSize(const std::string& text, char separator, Mode& mode) {
    std::size_t cut = text.find(separator);
    if (cut == std::string::npos) return false;
    std::string h = text.substr(cut + 1);
    std::size_t end = 0;
    while (end < h.size() && std::isdigit(static_cast<unsigned char>(h[end]))) ++end;
    auto w = parseDecimal(text.substr(0, cut));
    auto hh = parseDecimal(h.substr(0, end));
    if (!w || !hh || *w == 0 || *hh == 0) return false;
    mode.width = w;
    mode.height = hh;
    return true;
}

Mode framebufferMode(MachineData& m, const PnpDevice& device, bool onlyController) {
    Mode mode;
    for (const std::string& fb : m.files.list("/sys/class/graphics")) {
        if (!startsWith(fb, "fb")) continue;
        const std::string base = "/sys/class/graphics/" + fb;
        auto path = m.files.resolve(base + "/device");
        const PnpDevice* owner = path ? m.deviceHolding(*path) : nullptr;
        if (owner != &device && !(onlyController && owner == nullptr)) continue;
        auto size = m.files.attribute(base + "/virtual_size");
        if (!size || !parseSize(*size, ',', mode)) continue;
        mode.bitsPerPixel = m.files.number(base + "/bits_per_pixel");
        return mode;
    }
    return mode;
}

Mode drmMode(MachineData& m, const PnpDevice& device) {
    Mode mode;
    const auto& entries = m.files.list("/sys/class/drm");
    for (const std::string& card : entries) {
        if (!startsWith(card, "card") || card.find('-') != std::string::npos) continue;
        auto path = m.files.resolve("/sys/class/drm/" + card + "/device");
        if (!path || m.deviceHolding(*path) != &device) continue;
        for (const std::string& connector : entries) {
            if (!startsWith(connector, card + "-")) continue;
            const std::string base = "/sys/class/drm/" + connector;
            if (m.files.attribute(base + "/status") != std::optional<std::string>("connected")) continue;
            auto first = m.files.attribute(base + "/modes");
            if (first && parseSize(*first, 'x', mode)) return mode;
        }
    }
    return mode;
}

std::optional<std::uint64_t> videoMemory(MachineData& m, const PnpDevice& device) {
    const std::string base = "/sys/bus/pci/devices/" + device.sysName;
    if (auto vram = m.files.number(base + "/mem_info_vram_total")) return vram;
    const auto& resources = m.files.read(base + "/resource");
    if (!resources) return std::nullopt;
    std::uint64_t largest = 0;
    int bar = 0;
    for (std::string_view line : splitLines(*resources)) {
        if (bar++ >= 6) break;  // the six base address registers
        std::string l = trim(line);
        std::size_t a = l.find(' '), b = l.find(' ', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        auto start = parseHex(l.substr(0, a)), end = parseHex(l.substr(a + 1, b - a - 1)),
             flags = parseHex(l.substr(b + 1));
        if (!start || !end || !flags || *end <= *start || !(*flags & 0x200)) continue;
        largest = std::max(largest, *end - *start + 1);
    }
    if (largest == 0) return std::nullopt;
    return largest;
}

// Video memory as WMI reports AdapterRAM, an unsigned 32-bit number handed
// out in a signed one: up to 2^32-1 bytes, and 0xFFF00000 ("4095 MB") for
// cards with more, which that property cannot hold.
Value adapterRam(const std::optional<std::uint64_t>& bytes) {
    if (!bytes || *bytes == 0) return Value::null();
    const std::uint64_t reported = *bytes > 0xFFFFFFFFu ? 0xFFF00000u : *bytes;
    return Value::int32(static_cast<std::int32_t>(static_cast<std::uint32_t>(reported)));
}

Value positiveInt32(const std::optional<std::uint64_t>& n) {
    if (!n || *n == 0 || *n > 0x7FFFFFFFu) return Value::null();
    return Value::int32(static_cast<std::int32_t>(*n));
}
}  // namespace

Objects buildVideoControllers(MachineData& m) {
    std::vector<const PnpDevice*> controllers;
    for (const PnpDevice& d : m.devices())
        if (d.bus == Bus::Pci && (d.pciClass >> 16) == 0x03) controllers.push_back(&d);
    Objects out;
    int index = 1;
    for (const PnpDevice* d : controllers) {
        Mode mode = framebufferMode(m, *d, controllers.size() == 1);
        if (!mode.width) mode = drmMode(m, *d);
        PropertyObject o;
        o.set("Name", Value::text(d->name));
        o.set("Caption", Value::text(d->name));
        o.set("Description", Value::text(d->name));
        o.set("AdapterCompatibility", textOrNull(d->manufacturer));
        o.set("DeviceID", Value::text("VideoController" + std::to_string(index++)));
        o.set("PNPDeviceID", Value::text(d->deviceId));
        o.set("DriverVersion", textOrNull(m.driverVersion(*d)));
        auto date = d->driver ? m.kernelBuildDate() : std::nullopt;
        o.set("DriverDate", date ? Value::text(*date + "000000.000000-000") : Value::null());
        o.set("InstalledDisplayDrivers", textOrNull(d->driver));
        o.set("CurrentHorizontalResolution", positiveInt32(mode.width));
        o.set("CurrentVerticalResolution", positiveInt32(mode.height));
        o.set("CurrentBitsPerPixel", positiveInt32(mode.bitsPerPixel));
        o.set("AdapterRAM", adapterRam(videoMemory(m, *d)));
        o.set("Status", Value::text(d->errorCode == 0 ? "OK" : "Error"));
        out.push_back(share(std::move(o)));
    }
    return out;
}

}  // namespace veltrix::linux_provider
