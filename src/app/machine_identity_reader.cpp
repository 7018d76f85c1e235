#include "app/machine_identity_reader.h"

#include <functional>

#include "core/ascii.h"

namespace veltrix {
namespace {

using ObjectVisit = std::function<void(const wmi::Object&)>;

// Runs one query and hands each object on; a failing step ends it quietly,
// since every identity value is optional.
void eachObject(wmi::Connection& connection, std::string_view wql, const ObjectVisit& visit) {
    auto results = connection.execQuery(wql, "WQL", wmi::kQueryFlags);
    if (!results) return;
    for (;;) {
        auto object = (*results)->next();
        if (!object || !*object) return;
        visit(**object);
    }
}

std::optional<std::string> textOf(const wmi::Object& object, std::string_view property) {
    auto value = object.get(property);
    if (!value || !value->isText()) return std::nullopt;
    std::string_view text = trimView(value->asText());
    if (text.empty()) return std::nullopt;
    return std::string(text);
}

// The first object's value of one property.
std::optional<std::string> firstText(wmi::Connection& connection, std::string_view className,
                                     std::string_view property) {
    std::optional<std::string> found;
    eachObject(connection, "SELECT " + std::string(property) + " FROM " + std::string(className),
               [&](const wmi::Object& object) {
                   if (!found) found = textOf(object, property);
               });
    return found;
}

}  // namespace

MachineIdentity ReadMachineIdentity(wmi::Service& service) {
    MachineIdentity seen;
    auto connection = service.connect(wmi::kWmiMoniker);
    if (!connection) return seen;
    wmi::Connection& c = **connection;
    seen.hostName = firstText(c, "Win32_ComputerSystem", "Name");
    seen.uuid = firstText(c, "Win32_ComputerSystemProduct", "UUID");
    seen.enclosureSerial = firstText(c, "Win32_SystemEnclosure", "SerialNumber");
    seen.boardSerial = firstText(c, "Win32_BaseBoard", "SerialNumber");
    seen.biosSerial = firstText(c, "Win32_BIOS", "SerialNumber");
    // Physical adapters only: virtual switches, tunnels and VPN adapters come
    // and go and are often shared between machines. Systems older than the
    // PhysicalAdapter property fall back on the adapters that sit on a bus.
    auto onBusId = [](std::string_view device) {
        return equalsIgnoringCase(device.substr(0, 4), "PCI\\") || equalsIgnoringCase(device.substr(0, 4), "USB\\");
    };
    // All properties: a query naming one the system lacks would fail whole.
    eachObject(c, "SELECT * FROM Win32_NetworkAdapter",
               [&](const wmi::Object& adapter) {
                   auto mac = textOf(adapter, "MACAddress");
                   if (!mac) return;
                   auto physical = adapter.get("PhysicalAdapter");
                   bool onBus = false;
                   if (physical && physical->kind() == wmi::Kind::Bool) {
                       onBus = physical->asBool();
                   } else if (auto device = textOf(adapter, "PNPDeviceID")) {
                       onBus = onBusId(*device);
                   }
                   if (onBus) seen.macs.push_back(*mac);
               });
    return UsableIdentity(seen);
}

}  // namespace veltrix
