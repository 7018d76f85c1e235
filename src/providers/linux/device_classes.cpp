// Plug-and-play devices (PCI and USB) and the drivers bound to them.
#include "providers/linux/class_builders.h"

namespace veltrix::linux_provider {

using wmi::PropertyObject;
using wmi::Value;

Objects buildPnpEntities(MachineData& m) {
    Objects out;
    for (const PnpDevice& d : m.devices()) {
        PropertyObject o;
        o.set("Name", Value::text(d.name));
        o.set("Caption", Value::text(d.name));
        o.set("Description", Value::text(d.name));
        o.set("DeviceID", Value::text(d.deviceId));
        o.set("PNPDeviceID", Value::text(d.deviceId));
        o.set("Manufacturer", textOrNull(d.manufacturer));
        o.set("PNPClass", Value::text(d.deviceClass));
        o.set("Service", textOrNull(d.driver));
        o.set("ConfigManagerErrorCode", Value::int32(d.errorCode));
        o.set("Status", Value::text(d.errorCode == 0 ? "OK" : "Error"));
        out.push_back(share(std::move(o)));
    }
    return out;
}

Objects buildPnpSignedDrivers(MachineData& m) {
    Objects out;
    for (const PnpDevice& d : m.devices()) {
        if (!d.driver) continue;
        PropertyObject o;
        o.set("DeviceName", Value::text(d.name));
        o.set("Description", Value::text(d.name));
        o.set("DriverVersion", textOrNull(m.driverVersion(d)));
        o.set("DeviceID", Value::text(d.deviceId));
        o.set("DeviceClass", Value::text(d.deviceClass));
        o.set("Manufacturer", textOrNull(d.manufacturer));
        o.set("Location", textOrNull(d.location));
        o.set("DriverName", textOrNull(d.driver));
        out.push_back(share(std::move(o)));
    }
    return out;
}

}  // namespace veltrix::linux_provider
