#include "data/report_export.h"

namespace veltrix::data {

namespace {

// Invalid UTF-8 cannot come from the reader, but a JSON writer must never
// throw on a value: what is not UTF-8 becomes U+FFFD.
std::string dump(const nlohmann::ordered_json& json) {
    return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

void csvLine(std::string& out, std::initializer_list<std::string_view> fields) {
    bool first = true;
    for (std::string_view field : fields) {
        if (!first) out += ',';
        out += CsvField(field);
        first = false;
    }
    out += "\r\n";
}

}  // namespace

nlohmann::ordered_json ReportToJson(const NamedReport& input) {
    const Report& r = input.report;
    nlohmann::ordered_json sections = nlohmann::ordered_json::array();
    for (const Section& section : r.sections) {
        nlohmann::ordered_json items = nlohmann::ordered_json::array();
        for (const Item& item : section.items) {
            nlohmann::ordered_json rows = nlohmann::ordered_json::array();
            for (const Row& row : item.rows) rows.push_back({{"label", row.label}, {"value", row.value}});
            items.push_back(std::move(rows));
        }
        sections.push_back({{"title", section.title},
                            {"items", std::move(items)},
                            {"error", section.error ? nlohmann::ordered_json(*section.error) : nlohmann::ordered_json(nullptr)}});
    }
    nlohmann::ordered_json hotfixes = nlohmann::ordered_json::array();
    for (const Pair& fix : r.hotfixes) hotfixes.push_back({{"id", fix.first}, {"description", fix.second}});
    nlohmann::ordered_json software = nlohmann::ordered_json::array();
    for (const Pair& program : r.software) software.push_back({{"name", program.first}, {"version", program.second}});
    nlohmann::ordered_json slots = nlohmann::ordered_json::array();
    for (const Slot& slot : r.slots) {
        slots.push_back({{"tag", slot.tag}, {"designation", slot.designation}, {"usage", slot.usage}});
    }
    return {{"veltrix-report", kReportJsonVersion},
            {"file", input.file},
            {"name", r.name},
            {"comment", r.comment},
            {"generated", r.generated},
            {"version", r.version},
            {"sections", std::move(sections)},
            {"hotfixes", std::move(hotfixes)},
            {"software", std::move(software)},
            {"slots", std::move(slots)},
            {"factory-file-lines", r.factoryFileLines}};
}

std::string ExportJson(const std::vector<NamedReport>& inputs) {
    if (inputs.size() == 1) return dump(ReportToJson(inputs.front()));
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (const NamedReport& input : inputs) all.push_back(ReportToJson(input));
    return dump(all);
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string ExportCsv(const std::vector<NamedReport>& inputs) {
    std::string out;
    csvLine(out, {"file", "section", "item", "label", "value"});
    for (const NamedReport& input : inputs) {
        const Report& r = input.report;
        const std::string& file = input.file;
        csvLine(out, {file, "", "", "Designation", r.name});
        if (!r.comment.empty()) csvLine(out, {file, "", "", "Comment", r.comment});
        for (const Section& section : r.sections) {
            for (std::size_t k = 0; k < section.items.size(); ++k) {
                const std::string item = std::to_string(k + 1);
                for (const Row& row : section.items[k].rows) csvLine(out, {file, section.title, item, row.label, row.value});
            }
            if (section.error) csvLine(out, {file, section.title, "", "Error", *section.error});
            // The entries of the paired tables and the slots, under their sections.
            if (section.title == "Hotfix") {
                for (std::size_t k = 0; k < r.hotfixes.size(); ++k) {
                    csvLine(out, {file, section.title, std::to_string(k + 1), r.hotfixes[k].first, r.hotfixes[k].second});
                }
            } else if (section.title == "Installed Software") {
                for (std::size_t k = 0; k < r.software.size(); ++k) {
                    csvLine(out, {file, section.title, std::to_string(k + 1), r.software[k].first, r.software[k].second});
                }
            } else if (section.title == "Slots") {
                for (std::size_t k = 0; k < r.slots.size(); ++k) {
                    const std::string item = std::to_string(k + 1);
                    csvLine(out, {file, section.title, item, "Tag", r.slots[k].tag});
                    csvLine(out, {file, section.title, item, "Slot Description", r.slots[k].designation});
                    csvLine(out, {file, section.title, item, "Belegung", r.slots[k].usage});
                }
            }
        }
    }
    return out;
}

}  // namespace veltrix::data
