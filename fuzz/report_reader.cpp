// A saved report as it would arrive on a stick or a share: read into the
// model. A refusal is a fine outcome; a crash, a sanitizer report, an
// uncaught exception or text that is not UTF-8 in the model is not.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "data/report_reader.h"
#include "report/encoding.h"

namespace {

void mustBeUtf8(const std::string& text) {
    if (veltrix::replaceInvalidUtf8(text) != text) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto report = veltrix::data::ParseReport(bytes);
    if (!report) return 0;
    mustBeUtf8(report->name);
    mustBeUtf8(report->comment);
    for (const auto& section : report->sections) {
        mustBeUtf8(section.title);
        if (section.error) mustBeUtf8(*section.error);
        for (const auto& item : section.items) {
            for (const auto& row : item.rows) {
                mustBeUtf8(row.label);
                mustBeUtf8(row.value);
            }
        }
    }
    for (const auto& pair : report->software) mustBeUtf8(pair.first + pair.second);
    for (const auto& line : report->factoryFileLines) mustBeUtf8(line);
    return 0;
}
