// Firmware identity: BIOS, enclosure, product, base board, computer system
// and expansion slots. The kernel's DMI attributes come first (readable by
// everyone except the serial numbers); the raw firmware table, readable
// only with privileges, fills in what they lack.
#include "providers/linux/class_builders.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

using wmi::PropertyObject;
using wmi::Value;

namespace {
// "MM/DD/YYYY" -> "YYYYMMDD000000.000000+000"
std::optional<std::string> wmiDate(const std::optional<std::string>& date) {
    if (!date || date->size() != 10 || (*date)[2] != '/' || (*date)[5] != '/') return std::nullopt;
    return date->substr(6, 4) + date->substr(0, 2) + date->substr(3, 2) + "000000.000000+000";
}

template <class T, class F>
std::optional<std::string> fromTable(const std::optional<T>& part, F field) {
    if (!part) return std::nullopt;
    return field(*part);
}
}  // namespace

Objects buildBios(MachineData& m) {
    const SmbiosInventory* table = m.smbios();
    std::optional<SmbiosBios> tb = table ? table->bios : std::nullopt;
    std::optional<SmbiosSystem> ts = table ? table->system : std::nullopt;
    auto vendor = either(m.dmi("bios_vendor"), fromTable(tb, [](auto& b) { return b.vendor; }));
    auto version = either(m.dmi("bios_version"), fromTable(tb, [](auto& b) { return b.version; }));
    auto date = either(m.dmi("bios_date"), fromTable(tb, [](auto& b) { return b.releaseDate; }));
    if (!vendor && !version && !date) return {};
    auto serial = either(m.dmi("product_serial"), fromTable(ts, [](auto& s) { return s.serial; }));
    PropertyObject o;
    o.set("Manufacturer", textOrNull(vendor));
    o.set("Name", textOrNull(version));
    o.set("Description", textOrNull(version));
    o.set("Version", textOrNull(version));
    o.set("SMBIOSBIOSVersion", textOrNull(version));
    o.set("SerialNumber", textOrNull(serial));
    o.set("ReleaseDate", textOrNull(wmiDate(date)));
    o.set("Status", Value::text("OK"));
    return {share(std::move(o))};
}

Objects buildSystemEnclosure(MachineData& m) {
    const SmbiosInventory* table = m.smbios();
    std::optional<SmbiosEnclosure> te;
    if (table && !table->enclosures.empty()) te = table->enclosures.front();
    auto vendor = either(m.dmi("chassis_vendor"), fromTable(te, [](auto& e) { return e.manufacturer; }));
    auto type = m.dmi("chassis_type");
    std::optional<std::uint64_t> typeNumber;
    if (type) typeNumber = parseDecimal(*type);
    if (!typeNumber && te && te->chassisType) typeNumber = *te->chassisType;
    if (!vendor && !typeNumber && !te) return {};
    PropertyObject o;
    o.set("Manufacturer", textOrNull(vendor));
    o.set("Name", Value::text("System Enclosure"));
    o.set("Tag", Value::text("System Enclosure 0"));
    o.set("Version", textOrNull(either(m.dmi("chassis_version"), fromTable(te, [](auto& e) { return e.version; }))));
    o.set("SerialNumber", textOrNull(either(m.dmi("chassis_serial"), fromTable(te, [](auto& e) { return e.serial; }))));
    o.set("SMBIOSAssetTag",
          textOrNull(either(m.dmi("chassis_asset_tag"), fromTable(te, [](auto& e) { return e.assetTag; }))));
    o.set("ChassisTypes", typeNumber ? Value::array({Value::int32(static_cast<std::int32_t>(*typeNumber))})
                                     : Value::null());
    return {share(std::move(o))};
}

Objects buildComputerSystemProduct(MachineData& m) {
    const SmbiosInventory* table = m.smbios();
    std::optional<SmbiosSystem> ts = table ? table->system : std::nullopt;
    auto name = either(m.dmi("product_name"), fromTable(ts, [](auto& s) { return s.product; }));
    auto vendor = either(m.dmi("sys_vendor"), fromTable(ts, [](auto& s) { return s.manufacturer; }));
    if (!name && !vendor) return {};
    PropertyObject o;
    o.set("Name", textOrNull(name));
    o.set("Vendor", textOrNull(vendor));
    o.set("Version", textOrNull(either(m.dmi("product_version"), fromTable(ts, [](auto& s) { return s.version; }))));
    o.set("IdentifyingNumber",
          textOrNull(either(m.dmi("product_serial"), fromTable(ts, [](auto& s) { return s.serial; }))));
    o.set("UUID", textOrNull(m.dmi("product_uuid")));
    o.set("SKUNumber", textOrNull(m.dmi("product_sku")));
    return {share(std::move(o))};
}

Objects buildBaseBoard(MachineData& m) {
    const SmbiosInventory* table = m.smbios();
    std::optional<SmbiosBoard> tb;
    if (table && !table->boards.empty()) tb = table->boards.front();
    auto product = either(m.dmi("board_name"), fromTable(tb, [](auto& b) { return b.product; }));
    auto vendor = either(m.dmi("board_vendor"), fromTable(tb, [](auto& b) { return b.manufacturer; }));
    if (!product && !vendor && !tb) return {};
    PropertyObject o;
    o.set("Product", textOrNull(product));
    o.set("Manufacturer", textOrNull(vendor));
    o.set("Version", textOrNull(either(m.dmi("board_version"), fromTable(tb, [](auto& b) { return b.version; }))));
    o.set("SerialNumber", textOrNull(either(m.dmi("board_serial"), fromTable(tb, [](auto& b) { return b.serial; }))));
    o.set("Tag", Value::text("Base Board"));
    o.set("Name", Value::text("Base Board"));
    return {share(std::move(o))};
}

Objects buildSystemSlots(MachineData& m) {
    const SmbiosInventory* table = m.smbios();
    if (!table) return {};
    Objects out;
    int index = 0;
    for (const SmbiosSlot& s : table->slots) {
        PropertyObject o;
        o.set("Tag", Value::text("System Slot " + std::to_string(index++)));
        o.set("SlotDesignation", textOrNull(s.designation));
        o.set("CurrentUsage", Value::int32(s.currentUsage));
        o.set("SlotNumber", Value::int32(s.slotId));
        out.push_back(share(std::move(o)));
    }
    return out;
}

}  // namespace veltrix::linux_provider
