// What changed across the fleet, newest first: the change lists the store
// keeps per scan, filtered by a section and a time a person names ("disks",
// "this month"), cut into pages, each line naming its machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "store/sql_connection.h"

namespace veltrix::fleet {

inline constexpr std::size_t kChangesPageSize = 100;
// Lines counted at most: beyond 100 pages a reader narrows the filter, and
// the count never walks a whole fleet's history.
inline constexpr std::size_t kChangesCounted = 10000;

// The sections a reader filters by, as query values: "?section=disks".
struct ChangeSectionInfo {
    const char* key;
    const char* title;                    // as the filter and the lines show it
    std::vector<std::string_view> reportSections;  // empty: every section but the programs and updates
};
const std::vector<ChangeSectionInfo>& changeSections();
// How a line names a report section: "HDD" is "Disks".
std::string sectionTitle(std::string_view reportSection);

struct ChangeKindInfo {
    const char* key;    // as stored and in queries: "?change=upgraded"
    const char* title;  // "upgraded"
};
const std::vector<ChangeKindInfo>& changeKinds();

// Since the start of the day, the week (from Monday), the month or the
// year, in UTC.
struct ChangePeriodInfo {
    const char* key;    // "?when=week"
    const char* title;  // "this week"
};
const std::vector<ChangePeriodInfo>& changePeriods();

struct ChangeQuery {
    std::string section;  // a key of changeSections(); empty: all
    std::string kind;     // a key of changeKinds(); empty: all
    std::string when;     // a key of changePeriods(); empty: any time
    std::size_t page = 1;
};

// From "?section=...&change=...&when=...&page=N"; unknown values mean "all".
ChangeQuery changeQueryFrom(std::string_view section, std::string_view kind, std::string_view when,
                            std::string_view page);

// The first day of the period that holds `now`, as "2026-12-07", which
// sorts before every time of that day; empty for any time.
std::string periodStart(std::string_view when, std::time_t now);

struct FleetChange {
    std::int64_t machineId = 0, scanId = 0;
    std::string machine;  // its name now
    std::string takenAt;  // when the scan that saw it was taken; empty: unknown
    std::string section;  // the report's section title
    std::string kind, caption, detail;
};

struct ChangeList {
    std::size_t matching = 0;  // at most kChangesCounted
    bool more = false;         // more than kChangesCounted match
    std::size_t page = 1, pages = 1;
    std::vector<FleetChange> lines;
};

Result<ChangeList> listChanges(store::SqlConnection& connection, const ChangeQuery& query, std::time_t now);

}  // namespace veltrix::fleet
