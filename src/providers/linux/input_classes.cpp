// Keyboards and pointing devices from the kernel's input device list.
#include "providers/linux/class_builders.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

using wmi::PropertyObject;
using wmi::Value;

namespace {
struct InputDevice {
    std::uint16_t bus = 0, vendor = 0, product = 0;
    std::string name;
    std::string sysfs;
    std::string handlers;
    std::string keyBits;
};

std::vector<InputDevice> parseInputDevices(std::string_view text) {
    std::vector<InputDevice> out;
    InputDevice cur;
    bool any = false;
    auto flush = [&] {
        if (any) out.push_back(cur);
        cur = {};
        any = false;
    };
    for (std::string_view line : splitLines(text)) {
        if (trim(line).empty()) {
            flush();
            continue;
        }
        any = true;
        if (startsWith(line, "I:")) {
            auto value = [&](std::string_view key) -> std::uint16_t {
                std::size_t p = line.find(key);
                if (p == std::string_view::npos) return 0;
                return static_cast<std::uint16_t>(parseHex(line.substr(p + key.size(), 4)).value_or(0));
            };
            cur.bus = value("Bus=");
            cur.vendor = value("Vendor=");
            cur.product = value("Product=");
        } else if (startsWith(line, "N: Name=")) {
            std::string n = trim(line.substr(8));
            if (n.size() >= 2 && n.front() == '"' && n.back() == '"') n = n.substr(1, n.size() - 2);
            cur.name = n;
        } else if (startsWith(line, "S: Sysfs=")) {
            cur.sysfs = trim(line.substr(9));
        } else if (startsWith(line, "H: Handlers=")) {
            cur.handlers = " " + trim(line.substr(12)) + " ";
        } else if (startsWith(line, "B: KEY=")) {
            cur.keyBits = trim(line.substr(7));
        }
    }
    flush();
    return out;
}

// A real keyboard has the keys Esc through the letter row: the lowest
// 31 key bits above bit 0 all set (buttons and power keys lack them).
bool hasKeyboardKeys(const std::string& keyBits) {
    std::size_t last = keyBits.find_last_of(' ');
    std::string lowest = last == std::string::npos ? keyBits : keyBits.substr(last + 1);
    auto v = parseHex(lowest);
    return v && ((*v & 0xFFFFFFFEu) == 0xFFFFFFFEu);
}

std::vector<InputDevice> readInput(MachineData& m) {
    const auto& text = m.files.read("/proc/bus/input/devices");
    return text ? parseInputDevices(*text) : std::vector<InputDevice>{};
}

// The USB device an input device sits on, for its id and maker.
const PnpDevice* usbDeviceOf(MachineData& m, const InputDevice& d) {
    if (d.bus != 0x03 || d.sysfs.empty()) return nullptr;
    const PnpDevice* p = m.deviceHolding("/sys" + d.sysfs);
    return p && p->bus == Bus::Usb ? p : nullptr;
}

std::optional<std::string> keyboardLayout(MachineData& m) {
    const auto& text = m.files.read("/etc/default/keyboard");
    if (!text) return std::nullopt;
    auto kv = parseKeyValues(*text);
    auto it = kv.find("XKBLAYOUT");
    if (it == kv.end() || it->second.empty()) return std::nullopt;
    return it->second;
}
}  // namespace

Objects buildKeyboards(MachineData& m) {
    Objects out;
    int index = 0;
    for (const InputDevice& d : readInput(m)) {
        if (d.handlers.find(" kbd ") == std::string::npos || !hasKeyboardKeys(d.keyBits)) continue;
        const PnpDevice* usb = usbDeviceOf(m, d);
        PropertyObject o;
        o.set("Description", Value::text(d.name));
        o.set("Name", Value::text(d.name));
        o.set("Caption", Value::text(d.name));
        o.set("DeviceID", Value::text("KEYBOARD" + std::to_string(index++)));
        o.set("Layout", textOrNull(keyboardLayout(m)));
        o.set("PNPDeviceID", usb ? Value::text(usb->deviceId) : Value::null());
        o.set("Status", Value::text("OK"));
        out.push_back(share(std::move(o)));
    }
    return out;
}

Objects buildPointingDevices(MachineData& m) {
    Objects out;
    int index = 0;
    for (const InputDevice& d : readInput(m)) {
        if (d.handlers.find(" mouse") == std::string::npos) continue;
        const PnpDevice* usb = usbDeviceOf(m, d);
        PropertyObject o;
        o.set("Description", Value::text(d.name));
        o.set("Name", Value::text(d.name));
        o.set("Caption", Value::text(d.name));
        o.set("DeviceID", Value::text("POINTER" + std::to_string(index++)));
        o.set("Manufacturer", usb ? textOrNull(usb->manufacturer) : Value::null());
        o.set("PNPDeviceID", usb ? Value::text(usb->deviceId) : Value::null());
        o.set("Status", Value::text("OK"));
        out.push_back(share(std::move(o)));
    }
    return out;
}

}  // namespace veltrix::linux_provider
