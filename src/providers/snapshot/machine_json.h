// A machine's identity as the snapshot's "machine" member writes it, also
// what an agent sends when it enrols.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "core/machine_identity.h"
#include "core/result.h"

namespace veltrix::snapshot {

// Only the values present: absent is never written as an empty text.
nlohmann::ordered_json MachineJson(const MachineIdentity& identity);

// The identity from such an object; a failure names the offending member.
// Empty texts read as absent.
Result<MachineIdentity> MachineFromJson(const nlohmann::ordered_json& value);

}  // namespace veltrix::snapshot
