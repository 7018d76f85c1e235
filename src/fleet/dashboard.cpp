#include "fleet/dashboard.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>
#include <optional>

#include "fleet/utc_time.h"

namespace veltrix::fleet {
namespace {

// The most frequent texts first (then by text), the rest as one bar.
std::vector<DashboardBar> byName(const std::map<std::string, std::size_t>& counts, const char* searchKey) {
    std::vector<std::pair<std::string, std::size_t>> sorted(counts.begin(), counts.end());
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::vector<DashboardBar> bars;
    std::size_t rest = 0, restNames = 0;
    for (const auto& [name, count] : sorted) {
        if (bars.size() < kDashboardBars) {
            DashboardBar bar{name.empty() ? "unknown" : name, count, {}};
            // A search by the whole text finds these machines (and any whose
            // text contains it).
            if (!name.empty()) bar.search.emplace_back(searchKey, name);
            bars.push_back(std::move(bar));
        } else {
            rest += count;
            ++restNames;
        }
    }
    if (rest) bars.push_back({std::to_string(restNames) + " others", rest, {}});
    return bars;
}

struct Range {
    const char* label;
    std::optional<std::int64_t> least, most;  // inclusive
};

// Counts by figure (none: unknown) into the ranges' bars.
std::vector<DashboardBar> byRange(const std::vector<std::pair<std::optional<std::int64_t>, std::size_t>>& counts,
                                  const std::vector<Range>& ranges, const char* searchKey) {
    std::vector<DashboardBar> bars;
    for (const auto& range : ranges) {
        DashboardBar bar{range.label, 0, {}};
        if (range.least) bar.search.emplace_back(std::string(searchKey) + "-min", std::to_string(*range.least));
        if (range.most) bar.search.emplace_back(std::string(searchKey) + "-max", std::to_string(*range.most));
        bars.push_back(std::move(bar));
    }
    std::size_t unknown = 0;
    for (const auto& [value, count] : counts) {
        if (!value) {
            unknown += count;
            continue;
        }
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            if ((!ranges[i].least || *value >= *ranges[i].least) && (!ranges[i].most || *value <= *ranges[i].most)) {
                bars[i].machines += count;
                break;
            }
        }
    }
    if (unknown) bars.push_back({"unknown", unknown, {}});
    return bars;
}

// What one of the store's kept counts holds: each value shown, and on how
// many machines.
Status readCounts(store::SqlConnection& connection, const char* chart,
                  const std::function<void(std::string_view, std::size_t)>& onCount) {
    return connection.query("SELECT shown, machines FROM summary_counts WHERE chart = ?", {std::string_view(chart)},
                            [&](const store::SqlRow& row) {
                                onCount(row.text(0).value_or(""), static_cast<std::size_t>(row.integer(1)));
                            });
}

}  // namespace

Result<Dashboard> readDashboard(store::SqlConnection& connection, std::time_t now) {
    // The charts are counted as scans arrive; only the ages, which move
    // with the clock, are counted here, over an index of the times.
    Dashboard dashboard;
    std::map<std::string, std::size_t> systems, models;
    auto names = [](std::map<std::string, std::size_t>& into) {
        return [&into](std::string_view shown, std::size_t count) { into[std::string(shown)] += count; };
    };
    std::vector<std::pair<std::optional<std::int64_t>, std::size_t>> ram, disk;
    auto figures = [](std::vector<std::pair<std::optional<std::int64_t>, std::size_t>>& into) {
        return [&into](std::string_view shown, std::size_t count) {
            std::int64_t value = 0;
            auto [end, error] = std::from_chars(shown.data(), shown.data() + shown.size(), value);
            const bool known = !shown.empty() && error == std::errc() && end == shown.data() + shown.size();
            into.emplace_back(known ? std::optional<std::int64_t>(value) : std::nullopt, count);
        };
    };
    Status status = readCounts(connection, "os", names(systems));
    if (status.ok()) status = readCounts(connection, "model", names(models));
    if (status.ok()) status = readCounts(connection, "ram", figures(ram));
    if (status.ok()) status = readCounts(connection, "disk", figures(disk));
    if (!status.ok()) return status.failure;
    for (const auto& [name, count] : systems) dashboard.machines += count;
    dashboard.charts.push_back({"os", "Machines by operating system", byName(systems, "os")});
    dashboard.charts.push_back({"model", "Machines by maker and model", byName(models, "model")});
    dashboard.charts.push_back({"ram", "RAM",
                                byRange(ram,
                                        {{"under 4 GB", std::nullopt, 3},
                                         {"4 to 7 GB", 4, 7},
                                         {"8 to 15 GB", 8, 15},
                                         {"16 to 31 GB", 16, 31},
                                         {"32 to 63 GB", 32, 63},
                                         {"64 GB or more", 64, std::nullopt}},
                                        "ram")});
    dashboard.charts.push_back({"disk", "Disk size (all disks of a machine)",
                                byRange(disk,
                                        {{"under 128 GB", std::nullopt, 127},
                                         {"128 to 255 GB", 128, 255},
                                         {"256 to 511 GB", 256, 511},
                                         {"512 to 1023 GB", 512, 1023},
                                         {"1 to 2 TB", 1024, 2047},
                                         {"2 TB or more", 2048, std::nullopt}},
                                        "disk")});
    // Ages by the newest scan's time; the fleet page sorted by "Last seen"
    // lists the machines themselves.
    struct Age {
        const char* label;
        std::time_t seconds;
    };
    const Age ages[] = {{"within a day", 86400},
                        {"within a week", 7 * 86400},
                        {"within 30 days", 30 * 86400},
                        {"within 90 days", 90 * 86400},
                        {"within a year", 365 * 86400}};
    std::vector<DashboardBar> seen;
    std::vector<std::string> limits, limitDays;
    for (const auto& age : ages) {
        seen.push_back({age.label, 0, {}});
        limits.push_back(storeTime(now - age.seconds));
        limitDays.push_back(limits.back().substr(0, 10));
    }
    seen.push_back({"more than a year ago", 0, {}});
    // The store counts machines by the day and the minute they were last
    // seen: a day between two limits falls wholly into one bar.
    std::size_t unknown = 0;
    std::vector<std::size_t> splitLimits;
    status = readCounts(connection, "day", [&](std::string_view day, std::size_t count) {
        if (day.empty()) {
            unknown += count;
            return;
        }
        std::size_t i = 0;
        while (i < limitDays.size() && day < limitDays[i]) ++i;
        if (i < limitDays.size() && day == limitDays[i]) splitLimits.push_back(i);
        else seen[i].machines += count;
    });
    if (!status.ok()) return status.failure;
    // A limit's day is told apart by the minute, and only the machines of
    // the limit's own minute by their times: seen from the limit on, they
    // are within it, before it within the next (the days of two limits differ).
    for (std::size_t i : splitLimits) {
        const std::string dayEnd = limitDays[i] + "~", minute = limits[i].substr(0, 16);  // "~" after every time
        bool splitMinute = false;
        status = connection.query(
            "SELECT shown, machines FROM summary_counts WHERE chart = 'minute' AND shown >= ? AND shown < ?",
            {std::string_view(limitDays[i]), std::string_view(dayEnd)}, [&](const store::SqlRow& row) {
                const std::string_view shown = row.text(0).value_or("");
                const auto count = static_cast<std::size_t>(row.integer(1));
                if (shown == minute) splitMinute = true;
                else seen[shown > minute ? i : i + 1].machines += count;
            });
        if (!status.ok()) return status.failure;
        if (!splitMinute) continue;
        const std::string minuteEnd = minute + "~";
        const std::pair<std::string_view, std::string_view> parts[] = {{minute, limits[i]}, {limits[i], minuteEnd}};
        for (std::size_t part = 0; part < 2; ++part) {
            auto counted = store::queryValue(
                connection, "SELECT COUNT(*) FROM machine_summary WHERE last_seen >= ? AND last_seen < ?",
                {parts[part].first, parts[part].second});
            if (!counted) return counted.failure();
            seen[part == 0 ? i + 1 : i].machines += *counted ? std::stoull(**counted) : 0;
        }
    }
    if (unknown) seen.push_back({"unknown", unknown, {}});
    dashboard.charts.push_back({"seen", "Last seen", std::move(seen)});
    return dashboard;
}

}  // namespace veltrix::fleet
