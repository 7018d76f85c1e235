#include "data/compare_output.h"

#include <nlohmann/json.hpp>

#include "report/html_writer.h"
#include "report/report_stream.h"
#include "report/text.h"

namespace veltrix::data {

namespace {

constexpr std::string_view kArrow = "\xE2\x86\x92";  // →

std::string describe(const NamedReport& input) {
    std::string text = input.file + " (" + input.report.name;
    if (!input.report.generated.empty()) text += ", " + input.report.generated;
    return text + ")";
}

std::string summary(const Comparison& comparison) {
    if (comparison.same()) return "no differences";
    const std::size_t n = comparison.sections.size();
    return std::to_string(n) + (n == 1 ? " section differs" : " sections differ");
}

// Values are shown without the padding the page keeps around them.
std::string value(std::string_view text) { return std::string(TrimmedValue(text)); }

std::string row(const Row& r) { return value(r.label) + ": " + value(r.value); }

std::string change(const RowChange& c) {
    return value(c.label) + ": " + (c.before ? value(*c.before) : "(none)") + " " + std::string(kArrow) + " " +
           (c.after ? value(*c.after) : "(none)");
}

// Multi-line values indent their further lines under the first.
std::string indented(const std::string& text, const std::string& indent) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\n') out += indent;
    }
    return out;
}

// Page text that keeps the line breaks of a value of several lines (an Error
// row); the escaping itself is the one all pages made from reports share.
std::string pageText(std::string_view text) {
    std::string out;
    for (char c : EscapeHtml(text)) {
        if (c == '\n') {
            out += "<br>";
        } else if (c != '\r') {
            out += c;
        }
    }
    return out;
}

nlohmann::ordered_json side(const NamedReport& input) {
    return {{"file", input.file}, {"name", input.report.name}, {"generated", input.report.generated}};
}

nlohmann::ordered_json entries(const std::vector<ItemEntry>& items) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ItemEntry& item : items) {
        nlohmann::ordered_json rows = nlohmann::ordered_json::array();
        for (const Row& r : item.rows) rows.push_back({{"label", value(r.label)}, {"value", value(r.value)}});
        list.push_back({{"caption", item.caption}, {"rows", std::move(rows)}});
    }
    return list;
}

class NoMessages final : public Messages {
public:
    void messageBox(std::string_view, MessageStyle, std::string_view) override {}
};

}  // namespace

std::string CompareAsText(const NamedReport& before, const NamedReport& after, const Comparison& comparison) {
    std::string out;
    if (comparison.differentMachines) out += "These are scans of two different machines: " + *comparison.differentMachines + ".\n";
    out += "--- " + describe(before) + "\n+++ " + describe(after) + "\n";
    for (const SectionDiff& section : comparison.sections) {
        out += "\n[" + section.title + "]\n";
        for (const ItemEntry& item : section.removed) {
            out += "- removed: " + indented(item.caption, "    ") + "\n";
            for (const Row& r : item.rows) out += "    " + indented(row(r), "      ") + "\n";
        }
        for (const ItemEntry& item : section.added) {
            out += "+ added: " + indented(item.caption, "    ") + "\n";
            for (const Row& r : item.rows) out += "    " + indented(row(r), "      ") + "\n";
        }
        for (const ChangedItem& item : section.changed) {
            out += "~ changed: " + indented(item.caption, "    ") + "\n";
            for (const RowChange& c : item.changes) out += "    " + indented(change(c), "      ") + "\n";
        }
        for (const UpgradedItem& item : section.upgraded) out += "^ upgraded: " + indented(item.text, "    ") + "\n";
    }
    out += "\n" + summary(comparison) + "\n";
    return out;
}

std::string CompareAsJson(const NamedReport& before, const NamedReport& after, const Comparison& comparison) {
    nlohmann::ordered_json sections = nlohmann::ordered_json::array();
    for (const SectionDiff& section : comparison.sections) {
        nlohmann::ordered_json changed = nlohmann::ordered_json::array();
        for (const ChangedItem& item : section.changed) {
            nlohmann::ordered_json changes = nlohmann::ordered_json::array();
            for (const RowChange& c : item.changes) {
                changes.push_back({{"label", value(c.label)},
                                   {"old", c.before ? nlohmann::ordered_json(value(*c.before)) : nlohmann::ordered_json(nullptr)},
                                   {"new", c.after ? nlohmann::ordered_json(value(*c.after)) : nlohmann::ordered_json(nullptr)}});
            }
            changed.push_back({{"caption", item.caption}, {"changes", std::move(changes)}});
        }
        nlohmann::ordered_json entry = {{"title", section.title},
                                        {"added", entries(section.added)},
                                        {"removed", entries(section.removed)},
                                        {"changed", std::move(changed)}};
        // Only where there are upgrades, so that a comparison without one
        // keeps the shape scripts already read.
        if (!section.upgraded.empty()) {
            nlohmann::ordered_json upgraded = nlohmann::ordered_json::array();
            for (const UpgradedItem& item : section.upgraded) {
                auto program = [](const ItemEntry& entry) {
                    nlohmann::ordered_json side = nlohmann::ordered_json::object();
                    for (const Row& r : entry.rows) {
                        if (r.label == "Name") side["name"] = value(r.value);
                        if (r.label == "Version") side["version"] = value(r.value);
                    }
                    return side;
                };
                upgraded.push_back({{"old", program(item.before)}, {"new", program(item.after)}, {"text", item.text}});
            }
            entry["upgraded"] = std::move(upgraded);
        }
        sections.push_back(std::move(entry));
    }
    nlohmann::ordered_json document = {{"veltrix-compare", kCompareJsonVersion}};
    if (comparison.differentMachines) document["different-machines"] = *comparison.differentMachines;
    document["old"] = side(before);
    document["new"] = side(after);
    document["same"] = comparison.same();
    document["sections"] = std::move(sections);
    return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string CompareAsHtml(const NamedReport& before, const NamedReport& after, const Comparison& comparison) {
    NoMessages messages;
    MemoryReportStream page(messages);
    // The page is one of ours: the designation names both reports, the
    // comment what was compared; every text from the reports is escaped.
    const std::string title = pageText(before.report.name + " " + std::string(kArrow) + " " + after.report.name);
    WriteHeader(title + ".htm", "Comparison of two Veltrix reports", page);

    WriteTableHead("Comparison", page);
    if (comparison.differentMachines) {
        WriteRow("Machines", "<b>two different machines</b>: " + pageText(*comparison.differentMachines) + "&nbsp;", page);
    }
    WriteRow("Old report", pageText(describe(before)) + "&nbsp;", page);
    WriteRow("New report", pageText(describe(after)) + "&nbsp;", page);
    WriteRow("Result", pageText(summary(comparison)) + "&nbsp;", page);
    WriteTableFoot(page);

    auto listed = [](const ItemEntry& item) {
        std::string value = "<b>" + pageText(item.caption) + "</b>";
        for (const Row& r : item.rows) value += "<br>" + pageText(row(r));
        return value;
    };
    for (const SectionDiff& section : comparison.sections) {
        WriteTableHead(pageText(section.title), page);
        for (const ItemEntry& item : section.removed) {
            WriteRow("<font color='#c00000'><b>removed</b></font>", listed(item), page);
        }
        for (const ItemEntry& item : section.added) {
            WriteRow("<font color='#007000'><b>added</b></font>", listed(item), page);
        }
        for (const ChangedItem& item : section.changed) {
            std::string value = "<b>" + pageText(item.caption) + "</b>";
            for (const RowChange& c : item.changes) value += "<br>" + pageText(change(c));
            WriteRow("<b>changed</b>", value, page);
        }
        for (const UpgradedItem& item : section.upgraded) {
            WriteRow("<b>upgraded</b>", "<b>" + pageText(item.text) + "</b>", page);
        }
        WriteTableFoot(page);
    }
    WriteFooter(page);
    return page.bytes();
}

}  // namespace veltrix::data
