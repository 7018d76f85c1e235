#include "providers/linux/pnp_device.h"

#include <cstdio>
#include <map>

#include "providers/linux/id_lists.h"
#include "providers/linux/system_tree.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

std::string pciDeviceClass(std::uint32_t classCode) {
    const unsigned base = (classCode >> 16) & 0xFF, sub = (classCode >> 8) & 0xFF;
    switch (base) {
    case 0x01:
        return (sub == 0x01 || sub == 0x05 || sub == 0x06) ? "HDC" : "SCSIADAPTER";
    case 0x02: return "NET";
    case 0x03: return "DISPLAY";
    case 0x04: return "MEDIA";
    case 0x07: return sub == 0x03 ? "MODEM" : "PORTS";
    case 0x09: return "HIDCLASS";
    case 0x0B: return "PROCESSOR";
    case 0x0C:
        if (sub == 0x03) return "USB";
        if (sub == 0x00) return "1394";
        if (sub == 0x04) return "SCSIADAPTER";
        return "SYSTEM";
    case 0x0D: return sub == 0x11 ? "BLUETOOTH" : "NET";
    case 0x10: return "SECURITYDEVICES";
    default: return "SYSTEM";
    }
}

std::string usbDeviceClass(std::uint8_t usbClass) {
    switch (usbClass) {
    case 0x01: return "MEDIA";
    case 0x02: return "PORTS";
    case 0x03: return "HIDCLASS";
    case 0x06: return "IMAGE";
    case 0x07: return "PRINTER";
    case 0x0B: return "SMARTCARDREADER";
    case 0x0E: return "IMAGE";
    case 0xE0: return "BLUETOOTH";
    default: return "USB";
    }
}

namespace {
// Classes whose devices commonly run without a driver of their own (host
// and ISA bridges, memory controllers, system peripherals, processors):
// no driver there is no problem.
bool pciExpectsDriver(std::uint32_t classCode) {
    const unsigned base = (classCode >> 16) & 0xFF;
    return !(base == 0x05 || base == 0x06 || base == 0x08 || base == 0x0B || base == 0x00 || base == 0xFF);
}

// An instance id part must not hold a backslash; keep it to plain characters.
std::string instancePart(std::string_view text) {
    std::string out;
    for (char c : text) out += (c == '\\' || c == ' ' || static_cast<unsigned char>(c) < 0x20) ? '_' : c;
    return out;
}
}  // namespace

std::vector<PnpDevice> readPciDevices(SystemTree& files, IdsDatabase& ids) {
    std::vector<PnpDevice> out;
    for (const std::string& name : files.list("/sys/bus/pci/devices")) {
        const std::string base = "/sys/bus/pci/devices/" + name;
        auto vendor = files.hexNumber(base + "/vendor");
        auto device = files.hexNumber(base + "/device");
        if (!vendor || !device) continue;
        PnpDevice d;
        d.bus = Bus::Pci;
        d.sysName = name;
        d.sysfsPath = files.resolve(base).value_or(base);
        const auto v = static_cast<std::uint16_t>(*vendor), id = static_cast<std::uint16_t>(*device);
        const auto subVendor = files.hexNumber(base + "/subsystem_vendor").value_or(0);
        const auto subDevice = files.hexNumber(base + "/subsystem_device").value_or(0);
        const auto revision = files.hexNumber(base + "/revision").value_or(0);
        d.pciClass = static_cast<std::uint32_t>(files.hexNumber(base + "/class").value_or(0) & 0xFFFFFF);
        d.deviceId = "PCI\\VEN_" + hex(v, 4) + "&DEV_" + hex(id, 4) + "&SUBSYS_" + hex(subDevice & 0xFFFF, 4) +
                     hex(subVendor & 0xFFFF, 4) + "&REV_" + hex(revision & 0xFF, 2) + "\\" + instancePart(name);
        if (auto n = ids.device(v, id)) d.name = *n;
        else if (auto c = ids.className(static_cast<std::uint8_t>(d.pciClass >> 16),
                                        static_cast<std::uint16_t>((d.pciClass >> 8) & 0xFF)))
            d.name = *c;
        else d.name = "PCI device " + toLower(hex(v, 4)) + ":" + toLower(hex(id, 4));
        d.manufacturer = ids.vendor(v);
        d.deviceClass = pciDeviceClass(d.pciClass);
        d.driver = files.linkName(base + "/driver");
        // "0000:00:1f.3": domain, bus, device, function.
        unsigned domain = 0, bus = 0, dev = 0, fn = 0;
        if (std::sscanf(name.c_str(), "%x:%x:%x.%x", &domain, &bus, &dev, &fn) == 4)
            d.location = "PCI bus " + std::to_string(bus) + ", device " + std::to_string(dev) + ", function " +
                         std::to_string(fn);
        // "enable" counts the drivers that switched the device on, so it is 0
        // for every device without one: only a device a driver holds but
        // has left switched off (reserved for a virtual machine, or turned
        // off by hand) is disabled.
        if (!d.driver && pciExpectsDriver(d.pciClass)) d.errorCode = 28;
        else if (d.driver && files.number(base + "/enable") == std::optional<std::uint64_t>(0)) d.errorCode = 22;
        out.push_back(std::move(d));
    }
    return out;
}

std::vector<PnpDevice> readUsbDevices(SystemTree& files, IdsDatabase& ids) {
    std::vector<PnpDevice> out;
    const auto& entries = files.list("/sys/bus/usb/devices");
    for (const std::string& name : entries) {
        if (name.find(':') != std::string::npos) continue;  // interfaces
        const std::string base = "/sys/bus/usb/devices/" + name;
        auto vendor = files.hexNumber(base + "/idVendor");
        auto product = files.hexNumber(base + "/idProduct");
        if (!vendor || !product) continue;
        PnpDevice d;
        d.bus = Bus::Usb;
        d.sysName = name;
        d.sysfsPath = files.resolve(base).value_or(base);
        const auto v = static_cast<std::uint16_t>(*vendor), p = static_cast<std::uint16_t>(*product);
        auto serial = files.attribute(base + "/serial");
        d.deviceId = "USB\\VID_" + hex(v, 4) + "&PID_" + hex(p, 4) + "\\" + instancePart(serial ? *serial : name);
        if (auto n = ids.device(v, p)) d.name = *n;
        else if (auto s = files.attribute(base + "/product")) d.name = *s;
        else d.name = "USB device " + toLower(hex(v, 4)) + ":" + toLower(hex(p, 4));
        d.manufacturer = ids.vendor(v);
        if (!d.manufacturer) d.manufacturer = files.attribute(base + "/manufacturer");

        // Drivers bind to the device itself and to its interfaces ("1-2:1.0";
        // a root hub "usb1" has "1-0:1.0"); the device counts as driven when
        // any of them is. The interface's driver names the service best.
        std::optional<std::uint8_t> interfaceClass;
        const std::string prefix = startsWith(name, "usb") ? name.substr(3) + "-0:" : name + ":";
        for (const std::string& entry : entries) {
            if (!startsWith(entry, prefix)) continue;
            const std::string ib = "/sys/bus/usb/devices/" + entry;
            if (!interfaceClass)
                if (auto c = files.hexNumber(ib + "/bInterfaceClass")) interfaceClass = static_cast<std::uint8_t>(*c);
            if (!d.driver) d.driver = files.linkName(ib + "/driver");
        }
        auto deviceClass = files.hexNumber(base + "/bDeviceClass");
        std::uint8_t cls = deviceClass ? static_cast<std::uint8_t>(*deviceClass) : 0;
        if (cls == 0x00 || cls == 0xEF || cls == 0xFF) cls = interfaceClass.value_or(cls);
        d.deviceClass = usbDeviceClass(cls);
        if (!d.driver) d.driver = files.linkName(base + "/driver");
        if (!d.driver) d.errorCode = 28;

        // "1-2.3": port 3 on a hub of bus 1; root hubs ("usb1") have no port.
        std::size_t cut = name.find_last_of("-.");
        auto bus = files.number(base + "/busnum");
        if (cut != std::string::npos && bus) {
            if (auto port = parseDecimal(std::string_view(name).substr(cut + 1))) {
                char buf[64];
                std::snprintf(buf, sizeof buf, "Port_#%04u.Hub_#%04u", static_cast<unsigned>(*port),
                              static_cast<unsigned>(*bus));
                d.location = buf;
            }
        }
        out.push_back(std::move(d));
    }
    return out;
}

void numberDuplicateNames(std::vector<PnpDevice>& devices) {
    // As Windows names several devices of one model: the first keeps the
    // name, the next ones get " #2", " #3", ... so that a lookup by name
    // finds each one's own adapter.
    std::map<std::string, int> seen;
    for (PnpDevice& d : devices) {
        int count = ++seen[d.name];
        if (count > 1) d.name += " #" + std::to_string(count);
    }
}

}  // namespace veltrix::linux_provider
