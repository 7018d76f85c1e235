// An uploaded snapshot into the store: checked, read like `store add` reads
// one, and stored once however often the host sends it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.h"
#include "fleet/enrolment.h"
#include "store/inventory_store.h"

namespace veltrix::fleet {

struct Ingested {
    bool added = false;  // false: the store held this scan already
    std::int64_t scanId = 0;
    std::int64_t machineId = 0;
};

// `snapshot` is the uncompressed body. kMalformed when it is no snapshot,
// kIdentityTaken when its hardware is another enrolled host's,
// kStoreUnavailable when the store cannot be reached (the host should come
// back later) and kStoreFailed when it refused the scan. Nothing of a
// refused or failed scan is left in the store.
Result<Ingested> ingestScan(store::InventoryStore& inventory, const Host& host, std::string_view snapshot,
                            std::string_view now);

// Whether the store still answers: tells a lost connection from a statement
// the store refused.
bool storeAnswers(store::SqlConnection& connection);

}  // namespace veltrix::fleet
