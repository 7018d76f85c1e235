#include "store/stored_report.h"

#include <string>

namespace veltrix::store {
namespace {

constexpr std::string_view kSoftwareTitle = "Installed Software";
constexpr std::string_view kHotfixTitle = "Hotfix";

std::string textOf(const SqlRow& row, int column) { return std::string(row.text(column).value_or("")); }

}  // namespace

Result<std::optional<data::Report>> ReadStoredReport(SqlConnection& connection, std::int64_t scanId) {
    std::optional<data::Report> report;
    bool softwareCollected = false;
    Status status = connection.query(
        "SELECT designation, comment, generated, version, software_collected, taken_at FROM scans WHERE id = ?",
        {scanId}, [&](const SqlRow& row) {
            report.emplace();
            report->name = textOf(row, 0);
            report->comment = textOf(row, 1);
            report->generated = textOf(row, 2);
            report->version = textOf(row, 3);
            softwareCollected = row.integer(4) != 0;
            report->takenAt = textOf(row, 5);
        });
    if (!status.ok()) return status.failure;
    if (!report) return report;

    // Rows arrive in the order they were written. A new section starts where
    // the title changes, or where the item number falls back (two sections
    // of one title in a row).
    std::int64_t lastItem = -1;
    status = connection.query(
        "SELECT section, item, label, value FROM \"rows\" WHERE scan_id = ? ORDER BY position", {scanId},
        [&](const SqlRow& row) {
            const std::string_view title = row.text(0).value_or("");
            const std::int64_t item = row.integer(1);
            auto& sections = report->sections;
            if (sections.empty() || sections.back().title != title || item < lastItem) {
                sections.push_back({std::string(title), {}, std::nullopt});
            }
            lastItem = item;
            data::Section& section = sections.back();
            const std::string_view label = row.text(2).value_or("");
            std::string value = textOf(row, 3);
            if (label == "Error") {
                // Error rows close a section, one line each.
                section.error = section.error ? *section.error + "\n" + value : value;
                return;
            }
            // Item numbers count the section's items; an item interrupted by
            // nothing but error rows does not exist.
            while (static_cast<std::int64_t>(section.items.size()) <= item) section.items.emplace_back();
            section.items[static_cast<std::size_t>(item)].rows.push_back({std::string(label), std::move(value)});
        });
    if (!status.ok()) return status.failure;
    for (auto& section : report->sections) {
        std::erase_if(section.items, [](const data::Item& item) { return item.rows.empty(); });
    }
    status = connection.query("SELECT name, version FROM software WHERE scan_id = ? ORDER BY name, version", {scanId},
                              [&](const SqlRow& row) { report->software.push_back({textOf(row, 0), textOf(row, 1)}); });
    if (!status.ok()) return status.failure;
    status = connection.query("SELECT hotfix_id, description FROM hotfixes WHERE scan_id = ? ORDER BY hotfix_id",
                              {scanId},
                              [&](const SqlRow& row) { report->hotfixes.push_back({textOf(row, 0), textOf(row, 1)}); });
    if (!status.ok()) return status.failure;
    auto hasSection = [&](std::string_view title) {
        for (const auto& section : report->sections) {
            if (section.title == title) return true;
        }
        return false;
    };
    if (!report->hotfixes.empty() && !hasSection(kHotfixTitle)) {
        report->sections.push_back({std::string(kHotfixTitle), {}, std::nullopt});
    }
    if ((softwareCollected || !report->software.empty()) && !hasSection(kSoftwareTitle)) {
        report->sections.push_back({std::string(kSoftwareTitle), {}, std::nullopt});
    }
    return report;
}

}  // namespace veltrix::store
