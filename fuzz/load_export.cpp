// The whole loading path of the export and compare commands: bytes that are
// a report or a snapshot (told apart by their content), loaded into the model
// and written out as JSON and CSV. A refusal is a fine outcome; a crash, a
// sanitizer report, an uncaught exception or an export that is not UTF-8 is not.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "data/load_input.h"
#include "data/report_export.h"
#include "report/encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto report = veltrix::data::LoadInputBytes(bytes, "fuzz-input", {2026, 1, 1, 12, 0, 0},
                                                veltrix::EnglishLocale());
    if (!report) return 0;
    const std::vector<veltrix::data::NamedReport> inputs = {{"fuzz-input", std::move(*report)}};
    const std::string json = veltrix::data::ExportJson(inputs);
    const std::string csv = veltrix::data::ExportCsv(inputs);
    if (veltrix::replaceInvalidUtf8(json) != json || veltrix::replaceInvalidUtf8(csv) != csv) std::abort();
    return 0;
}
