// The fleet server's own tables, kept in the store beside the scans so that
// several server processes on one database share everything they know.
#pragma once

#include <string>

#include "store/sql_connection.h"

namespace veltrix::store {

// Enrolment secrets (only their hashes) and the enrolled hosts (only their
// keys' hashes), with the hardware each host said it was at enrolment.
std::string serverTablesSql(Engine engine);

}  // namespace veltrix::store
