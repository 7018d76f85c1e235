// A snapshot file as it would arrive from another machine: loaded, and when
// it loads, replayed through a whole scan. A refusal is a fine outcome; a
// crash, a sanitizer report or an uncaught exception is not.
#include <cstdint>
#include <string_view>

#include "providers/snapshot/snapshot_source.h"
#include "support/whole_scan.h"
#include "wmi/table_service.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view json(reinterpret_cast<const char*>(data), size);
    auto source = veltrix::snapshot::SnapshotSource::parse(json, "fuzz.json");
    if (!source) return 0;
    veltrix::wmi::TableService service(**source, "FUZZHOST");
    veltrix::fuzzing::scanToMemory(service);
    return 0;
}
