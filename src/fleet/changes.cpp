#include "fleet/changes.h"

#include <algorithm>
#include <charconv>

namespace veltrix::fleet {
namespace {

constexpr std::string_view kProgramSections[] = {"Installed Software", "Hotfix"};

}  // namespace

const std::vector<ChangeSectionInfo>& changeSections() {
    static const std::vector<ChangeSectionInfo> sections{
        {"hardware", "Hardware", {}},
        {"disks", "Disks", {"HDD"}},
        {"memory", "Memory", {"Memory"}},
        {"processors", "Processors", {"CPU"}},
        {"network", "Network adapters", {"Networkdevices"}},
        {"video", "Graphics", {"VGA"}},
        {"drives", "Drives", {"CDROM", "FDD", "Removeable Drives"}},
        {"board", "BIOS and board", {"Bios", "Motherboard", "Systeminformation", "Slots"}},
        {"os", "Operating system", {"Operatingsystem"}},
        {"programs", "Programs", {"Installed Software"}},
        {"updates", "Windows updates", {"Hotfix"}},
    };
    return sections;
}

std::string sectionTitle(std::string_view reportSection) {
    for (const auto& info : changeSections()) {
        if (info.reportSections.size() == 1 && info.reportSections[0] == reportSection) return info.title;
    }
    if (reportSection == "Bios") return "BIOS";
    return std::string(reportSection);
}

const std::vector<ChangeKindInfo>& changeKinds() {
    static const std::vector<ChangeKindInfo> kinds{
        {"added", "added"},         {"removed", "removed"},     {"changed", "changed"},
        {"installed", "installed"}, {"upgraded", "upgraded"},
    };
    return kinds;
}

const std::vector<ChangePeriodInfo>& changePeriods() {
    static const std::vector<ChangePeriodInfo> periods{
        {"today", "today"}, {"week", "this week"}, {"month", "this month"}, {"year", "this year"}};
    return periods;
}

ChangeQuery changeQueryFrom(std::string_view section, std::string_view kind, std::string_view when,
                            std::string_view page) {
    ChangeQuery query;
    for (const auto& info : changeSections()) {
        if (section == info.key) query.section = info.key;
    }
    for (const auto& info : changeKinds()) {
        if (kind == info.key) query.kind = info.key;
    }
    for (const auto& info : changePeriods()) {
        if (when == info.key) query.when = info.key;
    }
    std::size_t number = 0;
    auto [end, error] = std::from_chars(page.data(), page.data() + page.size(), number);
    if (error == std::errc() && end == page.data() + page.size() && number >= 1) query.page = number;
    return query;
}

std::string periodStart(std::string_view when, std::time_t now) {
    std::tm day{};
    gmtime_r(&now, &day);
    if (when == "week") {
        // Back to Monday; timegm normalises a day before the 1st.
        day.tm_mday -= (day.tm_wday + 6) % 7;
        day.tm_hour = 12;  // clear of any leap second
        std::time_t monday = timegm(&day);
        gmtime_r(&monday, &day);
    } else if (when == "month") {
        day.tm_mday = 1;
    } else if (when == "year") {
        day.tm_mday = 1;
        day.tm_mon = 0;
    } else if (when != "today") {
        return {};
    }
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &day);
    return text;
}

Result<ChangeList> listChanges(store::SqlConnection& connection, const ChangeQuery& query, std::time_t now) {
    std::string where = " WHERE 1 = 1";
    std::vector<store::SqlParam> params;
    const std::string since = periodStart(query.when, now);
    for (const auto& info : changeSections()) {
        if (query.section != info.key) continue;
        const bool hardware = info.reportSections.empty();
        const auto& sections = hardware ? std::vector<std::string_view>(std::begin(kProgramSections),
                                                                        std::end(kProgramSections))
                                        : info.reportSections;
        where += hardware ? " AND c.section NOT IN (" : " AND c.section IN (";
        for (std::size_t i = 0; i < sections.size(); ++i) {
            where += i ? ", ?" : "?";
            params.push_back(sections[i]);
        }
        where += ")";
    }
    if (!query.kind.empty()) {
        where += " AND c.kind = ?";
        params.push_back(std::string_view(query.kind));
    }
    if (!since.empty()) {
        where += " AND c.taken_at >= ?";
        params.push_back(std::string_view(since));
    }
    ChangeList list;
    std::vector<store::SqlParam> countParams = params;
    countParams.push_back(static_cast<std::int64_t>(kChangesCounted + 1));
    auto counted = store::queryValue(
        connection, "SELECT COUNT(*) FROM (SELECT 1 FROM scan_changes c" + where + " LIMIT ?) counted", countParams);
    if (!counted) return counted.failure();
    list.matching = counted->has_value() ? static_cast<std::size_t>(std::stoll(**counted)) : 0;
    list.more = list.matching > kChangesCounted;
    list.matching = std::min(list.matching, kChangesCounted);
    list.pages = std::max<std::size_t>(1, (list.matching + kChangesPageSize - 1) / kChangesPageSize);
    list.page = std::min(query.page, list.pages);
    params.push_back(static_cast<std::int64_t>(kChangesPageSize));
    params.push_back(static_cast<std::int64_t>((list.page - 1) * kChangesPageSize));
    Status status = connection.query(
        "SELECT s.machine_id, c.scan_id, m.name, c.taken_at, c.section, c.kind, c.caption, c.detail "
        "FROM scan_changes c JOIN scans s ON s.id = c.scan_id JOIN machines m ON m.id = s.machine_id" + where +
            " ORDER BY c.taken_at DESC, c.id DESC LIMIT ? OFFSET ?",
        params, [&](const store::SqlRow& row) {
            auto text = [&](int column) { return std::string(row.text(column).value_or("")); };
            list.lines.push_back({row.integer(0), row.integer(1), text(2), text(3), text(4), text(5), text(6), text(7)});
        });
    if (!status.ok()) return status.failure;
    return list;
}

}  // namespace veltrix::fleet
