// Snapshots as agents upload them: the example office desktop with a
// machine identity and a time of its own, so that each is a distinct scan.
#pragma once

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

namespace veltrix::fleet::testing {

inline nlohmann::json machineJson(const std::string& hostName, const std::string& uuid,
                                  const std::string& enclosureSerial = "") {
    nlohmann::json machine{{"host-name", hostName}, {"uuid", uuid}, {"macs", {"00:11:22:33:44:55"}}};
    if (!enclosureSerial.empty()) machine["enclosure-serial"] = enclosureSerial;
    return machine;
}

inline std::string snapshotOf(const nlohmann::json& machine, const std::string& takenAt) {
    std::ifstream file(VELTRIX_EXAMPLES "/office-desktop.json", std::ios::binary);
    nlohmann::json document = nlohmann::json::parse(std::string(std::istreambuf_iterator<char>(file), {}));
    document["veltrix-snapshot"] = 2;
    document["machine"] = machine;
    document["taken-at"] = takenAt;
    return document.dump(1);
}

}  // namespace veltrix::fleet::testing
