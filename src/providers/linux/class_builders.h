// One builder per class: each reads what it needs through MachineData and
// returns the class's instances in delivery order. A source that is missing
// gives fewer objects or Null properties, never a failure.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "providers/linux/machine_data.h"
#include "wmi/property_object.h"
#include "wmi/service.h"

namespace veltrix::linux_provider {

using Objects = std::vector<wmi::ObjectPtr>;

Objects buildBios(MachineData& m);
Objects buildSystemEnclosure(MachineData& m);
Objects buildComputerSystemProduct(MachineData& m);
Objects buildBaseBoard(MachineData& m);
Objects buildComputerSystem(MachineData& m);
Objects buildSystemSlots(MachineData& m);
Objects buildPhysicalMemory(MachineData& m);
Objects buildProcessors(MachineData& m);
Objects buildDiskDrives(MachineData& m);
Objects buildLogicalDisks(MachineData& m);
Objects buildCdromDrives(MachineData& m);
Objects buildKeyboards(MachineData& m);
Objects buildPointingDevices(MachineData& m);
Objects buildBatteries(MachineData& m);
Objects buildNetworkAdapters(MachineData& m);
Objects buildVideoControllers(MachineData& m);
Objects buildPnpEntities(MachineData& m);
Objects buildPnpSignedDrivers(MachineData& m);
Objects buildOperatingSystem(MachineData& m);
Objects buildQuickFixEngineering(MachineData& m);
// The same from the package tool's history log, read or not: touches
// nothing else, so it may be built on another thread.
Objects updatesFromHistory(const std::optional<std::string>& historyLog);
// The file that holds that log.
inline constexpr const char* kAptHistoryLog = "/var/log/apt/history.log";

// Helpers for the builders.
inline wmi::Value textOrNull(const std::optional<std::string>& text) {
    return text ? wmi::Value::text(*text) : wmi::Value::null();
}
inline wmi::ObjectPtr share(wmi::PropertyObject object) {
    return std::make_shared<const wmi::PropertyObject>(std::move(object));
}
// The first present of two optional texts.
inline std::optional<std::string> either(std::optional<std::string> a, const std::optional<std::string>& b) {
    return a ? a : b;
}

}  // namespace veltrix::linux_provider
