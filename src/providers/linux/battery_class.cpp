// System batteries from the power-supply class (batteries inside mice and
// other peripherals are left out).
#include "providers/linux/class_builders.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

using wmi::PropertyObject;
using wmi::Value;

Objects buildBatteries(MachineData& m) {
    Objects out;
    for (const std::string& name : m.files.list("/sys/class/power_supply")) {
        const std::string base = "/sys/class/power_supply/" + name;
        if (m.files.attribute(base + "/type") != std::optional<std::string>("Battery")) continue;
        if (m.files.attribute(base + "/scope") == std::optional<std::string>("Device")) continue;
        auto serial = m.files.attribute(base + "/serial_number");
        auto maker = m.files.attribute(base + "/manufacturer");
        auto model = m.files.attribute(base + "/model_name");
        auto capacity = m.files.number(base + "/capacity");
        auto status = m.files.attribute(base + "/status");
        PropertyObject o;
        o.set("Description", Value::text("Internal Battery"));
        o.set("Caption", Value::text("Internal Battery"));
        o.set("Name", Value::text(model.value_or(name)));
        // Serial, maker and model joined, as the firmware reports the id.
        o.set("DeviceID", Value::text(serial.value_or("") + maker.value_or("") + model.value_or("")));
        o.set("EstimatedChargeRemaining",
              capacity && *capacity <= 100 ? Value::int32(static_cast<std::int32_t>(*capacity)) : Value::null());
        std::int32_t code = 2;  // on mains
        if (status == std::optional<std::string>("Discharging")) code = 1;
        else if (status == std::optional<std::string>("Charging")) code = 6;
        else if (status == std::optional<std::string>("Full")) code = 3;
        o.set("BatteryStatus", Value::int32(code));
        o.set("Chemistry", Value::int32(m.files.attribute(base + "/technology") == std::optional<std::string>("Li-ion")
                                            ? 6 : 2));
        o.set("Status", Value::text("OK"));
        out.push_back(share(std::move(o)));
    }
    return out;
}

}  // namespace veltrix::linux_provider
