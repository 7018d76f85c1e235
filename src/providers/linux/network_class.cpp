// Network adapters: every interface but loopback. Interfaces backed by a
// device carry its name and id and their interface name as connection id;
// purely virtual ones (bridges, tunnels, containers' pairs) have none.
#include "providers/linux/class_builders.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

using wmi::PropertyObject;
using wmi::Value;

namespace {
constexpr std::uint64_t kEthernetType = 1;

// Wireless drivers may give one device a second, virtual interface (the
// "wmaster0" of an older stack, a monitor interface) of another link type.
// Such a twin is not a second adapter: where a device carries an Ethernet
// type interface, only those count; otherwise only its first.
bool isVirtualTwin(MachineData& m, const std::string& ifname, const PnpDevice* device,
                   std::optional<std::uint64_t> type) {
    if (!device || type == std::optional<std::uint64_t>(kEthernetType)) return false;
    for (const std::string& other : m.files.list("/sys/class/net")) {
        if (other == ifname) continue;
        const std::string base = "/sys/class/net/" + other;
        auto path = m.files.resolve(base + "/device");
        if (!path || m.deviceHolding(*path) != device) continue;
        if (m.files.number(base + "/type") == std::optional<std::uint64_t>(kEthernetType) || other < ifname)
            return true;
    }
    return false;
}
}  // namespace

Objects buildNetworkAdapters(MachineData& m) {
    Objects out;
    int index = 0;
    for (const std::string& ifname : m.files.list("/sys/class/net")) {
        const std::string base = "/sys/class/net/" + ifname;
        auto type = m.files.number(base + "/type");
        if (type == std::optional<std::uint64_t>(772) || ifname == "lo") continue;  // loopback
        const PnpDevice* device = nullptr;
        if (auto path = m.files.resolve(base + "/device")) device = m.deviceHolding(*path);
        if (isVirtualTwin(m, ifname, device, type)) continue;
        const std::string name = device ? device->name : ifname;
        PropertyObject o;
        o.set("DeviceID", Value::text(std::to_string(index++)));
        o.set("Name", Value::text(name));
        o.set("Description", Value::text(name));
        o.set("ProductName", Value::text(name));
        o.set("Manufacturer", device ? textOrNull(device->manufacturer) : Value::null());
        o.set("NetConnectionID", device ? Value::text(ifname) : Value::null());
        o.set("PNPDeviceID", device ? Value::text(device->deviceId) : Value::null());
        auto mac = m.files.attribute(base + "/address");
        o.set("MACAddress", mac && *mac != "00:00:00:00:00:00" ? Value::text(toUpper(*mac)) : Value::null());
        o.set("AdapterType", type == std::optional<std::uint64_t>(kEthernetType) ? Value::text("Ethernet 802.3") : Value::null());
        o.set("PhysicalAdapter", Value::boolean(device != nullptr));
        o.set("NetEnabled", Value::boolean(m.files.attribute(base + "/operstate") == std::optional<std::string>("up")));
        auto speed = m.files.attribute(base + "/speed");  // Mbit/s; -1 without link
        auto mbit = speed ? parseDecimal(*speed) : std::nullopt;
        o.set("Speed", mbit ? Value::text(std::to_string(*mbit * 1000000)) : Value::null());
        o.set("ServiceName", device ? textOrNull(device->driver) : Value::null());
        out.push_back(share(std::move(o)));
    }
    return out;
}

}  // namespace veltrix::linux_provider
