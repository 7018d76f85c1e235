// Installed memory modules: the firmware table when it can be read, else
// the memory-device properties udev copies from it into its database
// (readable by everyone).
#include <map>

#include "providers/linux/class_builders.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

using wmi::PropertyObject;
using wmi::Value;

namespace {
// Firmware memory type codes to the older type numbers WMI reports; newer
// generations have no number there and show as 0 (unknown).
std::int32_t wmiMemoryType(std::uint8_t code) {
    switch (code) {
    case 0x12: return 20;
    case 0x13: return 21;
    case 0x14: return 22;
    case 0x18: return 24;
    case 0x19: return 25;
    default: return 0;
    }
}

std::uint8_t memoryTypeCode(const std::string& name) {
    static const std::map<std::string, std::uint8_t> kCodes{
        {"Other", 0x01}, {"Unknown", 0x02}, {"DRAM", 0x03}, {"SDRAM", 0x0F}, {"DDR", 0x12},
        {"DDR2", 0x13}, {"DDR2 FB-DIMM", 0x14}, {"DDR3", 0x18}, {"FBD2", 0x19}, {"DDR4", 0x1A},
        {"LPDDR", 0x1B}, {"LPDDR2", 0x1C}, {"LPDDR3", 0x1D}, {"LPDDR4", 0x1E}, {"DDR5", 0x22}, {"LPDDR5", 0x23}};
    auto it = kCodes.find(name);
    return it == kCodes.end() ? 0x02 : it->second;
}

std::uint8_t formFactorCode(const std::string& name) {
    static const std::map<std::string, std::uint8_t> kCodes{
        {"SIMM", 0x03}, {"DIMM", 0x09}, {"RIMM", 0x0A}, {"SODIMM", 0x0D}, {"SRIMM", 0x0E}, {"FB-DIMM", 0x0F}};
    auto it = kCodes.find(name);
    return it == kCodes.end() ? 0x02 : it->second;
}

// WMI form factor numbers for the firmware codes (DIMM 8, SODIMM 12, ...).
std::int32_t wmiFormFactor(std::uint8_t code) {
    switch (code) {
    case 0x03: return 7;
    case 0x09: return 8;
    case 0x0A: return 11;
    case 0x0D: return 12;
    case 0x0E: return 13;
    case 0x0F: return 8;
    default: return 0;
    }
}

bool isModule(std::uint8_t formFactor) {
    return formFactor == 0x03 || formFactor == 0x09 || formFactor == 0x0A || formFactor == 0x0D ||
           formFactor == 0x0E || formFactor == 0x0F;
}

wmi::ObjectPtr moduleObject(const SmbiosMemoryDevice& d, int index) {
    PropertyObject o;
    o.set("Name", Value::text("Physical Memory"));
    o.set("Tag", Value::text("Physical Memory " + std::to_string(index)));
    o.set("MemoryType", Value::int32(wmiMemoryType(d.memoryType)));
    o.set("SMBIOSMemoryType", Value::int32(d.memoryType));
    o.set("FormFactor", Value::int32(wmiFormFactor(d.formFactor)));
    o.set("BankLabel", textOrNull(d.bankLocator));
    o.set("Capacity", d.sizeKnown ? Value::text(std::to_string(d.sizeBytes)) : Value::null());
    o.set("Speed", d.speed > 0 && d.speed <= 0x7FFFFFFFu ? Value::int32(static_cast<std::int32_t>(d.speed))
                                                         : Value::null());
    o.set("DeviceLocator", textOrNull(d.deviceLocator));
    o.set("HotSwappable", Value::boolean(false));
    o.set("InstallDate", Value::null());
    o.set("Manufacturer", textOrNull(d.manufacturer));
    o.set("Model", Value::null());
    o.set("OtherIdentifyingInfo", Value::null());
    o.set("PartNumber", textOrNull(d.partNumber));
    o.set("PoweredOn", Value::boolean(true));
    o.set("Removable", Value::boolean(isModule(d.formFactor)));
    o.set("Replaceable", Value::boolean(isModule(d.formFactor)));
    o.set("SerialNumber", textOrNull(d.serial));
    o.set("SKU", Value::null());
    o.set("Status", Value::null());
    o.set("Version", Value::null());
    return share(std::move(o));
}

std::vector<SmbiosMemoryDevice> fromUdev(const std::map<std::string, std::string>& props) {
    std::vector<SmbiosMemoryDevice> out;
    auto get = [&](int n, const char* key) -> std::optional<std::string> {
        auto it = props.find("MEMORY_DEVICE_" + std::to_string(n) + "_" + key);
        if (it == props.end() || trim(it->second).empty()) return std::nullopt;
        return trim(it->second);
    };
    for (int n = 0; n < 1024; ++n) {
        auto locator = get(n, "LOCATOR");
        auto present = get(n, "PRESENT");
        auto size = get(n, "SIZE");
        if (!locator && !present && !size) break;
        if (present == std::optional<std::string>("0") || !size) continue;
        SmbiosMemoryDevice d;
        d.deviceLocator = locator;
        d.bankLocator = get(n, "BANK_LOCATOR");
        d.manufacturer = get(n, "MANUFACTURER");
        d.serial = get(n, "SERIAL_NUMBER");
        d.partNumber = get(n, "PART_NUMBER");
        d.assetTag = get(n, "ASSET_TAG");
        auto bytes = parseDecimal(*size);
        d.sizeKnown = bytes.has_value();
        d.sizeBytes = bytes.value_or(0);
        if (d.sizeKnown && d.sizeBytes == 0) continue;
        auto speed = get(n, "SPEED_MTS");
        d.speed = speed ? static_cast<std::uint32_t>(parseDecimal(*speed).value_or(0)) : 0;
        d.memoryType = memoryTypeCode(get(n, "TYPE").value_or("Unknown"));
        d.formFactor = formFactorCode(get(n, "FORM_FACTOR").value_or("Unknown"));
        out.push_back(std::move(d));
    }
    return out;
}
}  // namespace

Objects buildPhysicalMemory(MachineData& m) {
    std::vector<SmbiosMemoryDevice> devices;
    if (const SmbiosInventory* table = m.smbios()) {
        for (const auto& d : table->memory)
            if (!d.sizeKnown || d.sizeBytes > 0) devices.push_back(d);
    } else {
        devices = fromUdev(m.udev("+dmi:id"));
    }
    Objects out;
    int index = 0;
    for (const auto& d : devices) out.push_back(moduleObject(d, index++));
    return out;
}

}  // namespace veltrix::linux_provider
