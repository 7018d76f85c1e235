#include "providers/snapshot/machine_json.h"

#include <array>
#include <utility>

#include "core/ascii.h"
#include "report/encoding.h"

namespace veltrix::snapshot {
namespace {

using Json = nlohmann::ordered_json;
using TextMember = std::optional<std::string> MachineIdentity::*;

constexpr std::array<std::pair<const char*, TextMember>, 5> kTextMembers{{
    {"host-name", &MachineIdentity::hostName},
    {"uuid", &MachineIdentity::uuid},
    {"enclosure-serial", &MachineIdentity::enclosureSerial},
    {"board-serial", &MachineIdentity::boardSerial},
    {"bios-serial", &MachineIdentity::biosSerial},
}};

}  // namespace

Json MachineJson(const MachineIdentity& identity) {
    Json out = Json::object();
    for (const auto& [key, member] : kTextMembers) {
        const auto& value = identity.*member;
        if (value && !value->empty()) out[key] = replaceInvalidUtf8(*value);
    }
    if (!identity.macs.empty()) {
        Json macs = Json::array();
        for (const auto& mac : identity.macs) macs.push_back(replaceInvalidUtf8(mac));
        out["macs"] = std::move(macs);
    }
    return out;
}

Result<MachineIdentity> MachineFromJson(const Json& value) {
    if (!value.is_object()) return Failure{1, "\"machine\" must be an object"};
    MachineIdentity identity;
    for (auto it = value.begin(); it != value.end(); ++it) {
        const std::string& key = it.key();
        if (key == "macs") {
            if (!it->is_array()) return Failure{1, "\"macs\" in \"machine\" must be a list of texts"};
            for (const auto& mac : *it) {
                if (!mac.is_string()) return Failure{1, "\"macs\" in \"machine\" must be a list of texts"};
                if (!trimView(mac.get_ref<const std::string&>()).empty()) identity.macs.push_back(mac.get<std::string>());
            }
            continue;
        }
        bool known = false;
        for (const auto& [name, member] : kTextMembers) {
            if (key != name) continue;
            known = true;
            if (it->is_null()) break;
            if (!it->is_string()) return Failure{1, "\"" + key + "\" in \"machine\" must be text"};
            if (!trimView(it->get_ref<const std::string&>()).empty()) identity.*member = it->get<std::string>();
        }
        if (!known) return Failure{1, "unknown member \"" + key + "\" in \"machine\""};
    }
    return identity;
}

}  // namespace veltrix::snapshot
