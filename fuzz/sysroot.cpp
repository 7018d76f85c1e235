// A whole machine tree (see support/tree_archive.h) unpacked into a private
// folder and inventoried by the Linux provider through a whole scan: the
// readers meet each other's output, odd links and missing files together.
#include <cstdint>
#include <string_view>

#include "providers/linux/linux_source.h"
#include "support/scratch_folder.h"
#include "support/tree_archive.h"
#include "support/whole_scan.h"
#include "wmi/table_service.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& root = veltrix::fuzzing::freshScratchFolder();
    veltrix::fuzzing::unpackTree(std::string_view(reinterpret_cast<const char*>(data), size), root);
    veltrix::linux_provider::LinuxSource source(root.string());
    veltrix::wmi::TableService service(source, "FUZZHOST");
    veltrix::fuzzing::scanToMemory(service);
    return 0;
}
