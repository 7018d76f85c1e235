// The machines' summaries are kept scan by scan. Whatever order the scans
// arrive in, renamed or out of date, what the fleet pages read must be what
// the scans say: the same as a summary made from scratch.
#include "store_fixture.h"

#include <ctime>

#include "core/ascii.h"
#include "fleet/dashboard.h"
#include "fleet/fleet_list.h"
#include "fleet/search.h"
#include "store/machine_summary.h"

namespace veltrix::store::testing {
namespace {

using MachineSummary = StoreTest;

std::string tableText(SqlConnection& connection, const std::string& columns, const std::string& rest) {
    const auto count = static_cast<int>(std::count(columns.begin(), columns.end(), ',')) + 1;
    std::string text;
    Status status = connection.query("SELECT " + columns + " " + rest, {}, [&](const SqlRow& row) {
        for (int i = 0; i < count; ++i) text += std::string(row.text(i).value_or("NULL")) + (i + 1 < count ? "|" : "\n");
    });
    EXPECT_TRUE(status.ok()) << status.failure.description;
    return text;
}

std::vector<std::string> programsFound(SqlConnection& connection, const std::string& program) {
    fleet::SearchQuery query;
    query.program = program;
    auto found = fleet::searchFleet(connection, query);
    EXPECT_TRUE(found) << found.failure().description;
    std::vector<std::string> lines;
    if (!found) return lines;
    for (const auto& hit : found->hits) {
        for (const auto& [name, version] : hit.programs) lines.push_back(hit.machine.name + ": " + name + " " + version);
    }
    return lines;
}

TEST_P(MachineSummary, KeptScanByScanIsWhatTheScansSayInAnyOrder) {
    auto store = openStore();
    ASSERT_TRUE(store);
    auto ofPc = [](int index, int variant, const char* name) {
        data::Report r = makeReport(index, variant);
        r.name = name;
        r.machine.enclosureSerial = "SN-" + std::to_string(index);
        return r;
    };
    // PC 2 renamed in its newest scan, which arrives before an older one;
    // PC 3's newest scan holds one program only, and its older scan comes last.
    data::Report fewer = ofPc(3, 6, "PC-0003");
    fewer.software = {{"Only Program", "9.1"}};
    data::Report bigger = ofPc(3, 2, "PC-0003");
    bigger.sections[4].items[0].rows[1].value = "65536 MB";
    addAll(*store, {ofPc(1, 0, "PC-0001"), ofPc(2, 1, "PC-0002"), ofPc(2, 7, "PC-0002-NEW"), fewer,
                    ofPc(2, 3, "PC-0002"), bigger});

    SqlConnection& connection = store->connection();
    const std::string summaryColumns =
        "machine_id, scan_id, name, generated, host_name, last_seen, serial, maker, model, maker_model, cpu, "
        "ram_total, ram_mb, disks, disk_gb, os, programs, programs_collected, scans, key_name, key_host, key_model, "
        "key_serial, key_cpu, key_ram, key_disks, key_os, key_programs, key_seen, key_all, sort_ram, sort_programs";
    auto everything = [&] {
        return tableText(connection, summaryColumns, "FROM machine_summary ORDER BY machine_id") +
               tableText(connection, "machine_id, name, version", "FROM latest_software ORDER BY machine_id, name, version") +
               tableText(connection, "chart, shown, machines", "FROM summary_counts ORDER BY chart, shown") +
               tableText(connection, "name, machines", "FROM program_names WHERE machines > 0 ORDER BY name") +
               (postgres() ? "" : tableText(connection, "rowid, key_all", "FROM summary_text ORDER BY rowid"));
    };
    const std::string kept = everything();
    ASSERT_TRUE(RefreshAllMachineSummaries(connection).ok());
    EXPECT_EQ(kept, everything());
    EXPECT_EQ(count("SELECT COUNT(*) FROM latest_software WHERE name NOT IN (SELECT name FROM program_names)"), 0);
    // PC 3's older scan with more RAM arrived last and counts for nothing.
    EXPECT_EQ(tableText(connection, "shown, machines", "FROM summary_counts WHERE chart = 'ram' ORDER BY shown"),
              "10|1\n4|1\n6|1\n");

    EXPECT_EQ(tableText(connection, "name, scans, ram_total, programs, key_name",
                        "FROM machine_summary ORDER BY machine_id"),
              "PC-0001|1|6144 MB|4|pc-0001\n"
              "PC-0002-NEW|3|10240 MB|5|pc-0002-new\n"
              "PC-0003|2|4096 MB|1|pc-0003\n");
    // Search reads the newest scans only: PC 3's older programs are gone.
    EXPECT_EQ(programsFound(connection, "only program"), std::vector<std::string>{"PC-0003: Only Program 9.1"});
    EXPECT_EQ(programsFound(connection, "Program 2"),
              (std::vector<std::string>{"PC-0001: Program 2 1.0", "PC-0002-NEW: Program 2 1.7"}));
}

std::vector<std::string> machinesFound(SqlConnection& connection, const std::string& program, const std::string& version) {
    fleet::SearchQuery query;
    query.program = program;
    query.version = version;
    auto found = fleet::searchFleet(connection, query);
    EXPECT_TRUE(found) << found.failure().description;
    std::vector<std::string> names;
    if (!found) return names;
    for (const auto& hit : found->hits) names.push_back(hit.machine.name);
    EXPECT_EQ(found->matching, names.size());
    return names;
}

// A rare program's machines are gathered and sorted, a common one's found
// by walking the machines in name order: either way the same machines.
TEST_P(MachineSummary, SearchFindsTheSameMachinesForRareAndCommonPrograms) {
    auto store = openStore();
    ASSERT_TRUE(store);
    std::vector<data::Report> reports;
    std::vector<std::string> withFive, withTwoVersions;
    for (int i = 30; i >= 1; --i) {
        data::Report r = makeReport(i);
        if (i == 7) r.software.push_back({"Rare Tool", "2.0"});
        if (i % 5 == 0) r.software.push_back({"Program 1", "2.0"});  // a second version beside 1.0
        if (i % 4 == 3) withFive.insert(withFive.begin(), r.name);   // programs 0 to 5
        if (i % 5 == 0) withTwoVersions.insert(withTwoVersions.begin(), r.name);
        reports.push_back(std::move(r));
    }
    addAll(*store, reports);
    SqlConnection& connection = store->connection();
    EXPECT_EQ(machinesFound(connection, "rare tool", ""), std::vector<std::string>{"PC-0007"});
    EXPECT_EQ(machinesFound(connection, "Program 5", ""), withFive);
    EXPECT_EQ(machinesFound(connection, "program 1", "2.0"), withTwoVersions);
    EXPECT_EQ(machinesFound(connection, "program", "2.0"), withTwoVersions);
    EXPECT_EQ(machinesFound(connection, "program 1", "").size(), 30u);  // counted once each with two versions
    EXPECT_EQ(machinesFound(connection, "no such program", "").size(), 0u);
}

// The ages are counted by day and minute; the machines of a limit's own day
// and minute are told apart on either side of the limit.
TEST_P(MachineSummary, TheDashboardsAgesSplitALimitsDayByTheTime) {
    auto store = openStore();
    ASSERT_TRUE(store);
    std::vector<data::Report> reports;
    for (const char* taken : {"2026-12-09T09:00:00+00:00", "2026-12-08T12:30:00+00:00", "2026-12-08T11:30:00+00:00",
                              "2026-12-08T12:00:45+00:00", "2026-12-08T12:00:10+00:00", "2026-12-05T10:00:00+00:00",
                              "2026-12-02T12:30:00+00:00", "2026-12-02T11:59:00+00:00", "2026-03-01T08:00:00+00:00",
                              "2025-01-10T08:00:00+00:00", ""}) {
        data::Report r = makeReport(static_cast<int>(reports.size()) + 1);
        r.takenAt = taken;
        r.timeKnown = *taken != 0;
        reports.push_back(std::move(r));
    }
    addAll(*store, reports);
    std::tm noon{};
    noon.tm_year = 2026 - 1900;
    noon.tm_mon = 11;
    noon.tm_mday = 9;
    noon.tm_hour = 12;
    noon.tm_sec = 30;  // the limits fall within a minute
    auto dashboard = fleet::readDashboard(store->connection(), timegm(&noon));
    ASSERT_TRUE(dashboard) << dashboard.failure().description;
    EXPECT_EQ(dashboard->machines, 11u);
    std::string ages;
    for (const auto& bar : dashboard->charts.back().bars) ages += bar.label + ": " + std::to_string(bar.machines) + "\n";
    EXPECT_EQ(ages,
              "within a day: 3\nwithin a week: 4\nwithin 30 days: 1\nwithin 90 days: 0\nwithin a year: 1\n"
              "more than a year ago: 1\nunknown: 1\n");
}

// The names of the machines the fleet list shows for `filter`.
std::vector<std::string> listed(SqlConnection& connection, const std::string& filter) {
    fleet::FleetQuery query;
    query.filter = filter;
    auto list = fleet::listFleet(connection, query, 0);
    EXPECT_TRUE(list) << list.failure().description;
    std::vector<std::string> names;
    if (!list) return names;
    for (const auto& entry : list->lines) names.push_back(entry.line.machine);
    EXPECT_EQ(list->matching, names.size()) << filter;
    return names;
}

// The text index only proposes machines: whatever a filter holds (quotes,
// LIKE's wildcards, a backslash, characters beyond ASCII, bytes that are
// no UTF-8, a line feed between two cells), the list shows the machines
// one of whose cells holds it, as comparing every cell finds (bytes no
// cell can hold match nothing, on either engine); and a
// version 3 store gains the index when it is next opened for writing.
TEST_P(MachineSummary, FilterFindsTheMachinesWhoseCellsHoldTheText) {
    auto store = openStore();
    ASSERT_TRUE(store);
    const char* names[] = {"PC-M\xC3\xBCller", "PC \"Quote\" 1", "Lab 50% B", "Lab_50 B", "Back\\slash",
                           "\xC3\x9Cn\xC3\xAF" "c\xC3\xB6" "d\xC3\xA9 Rack", "Plain"};
    const char* models[] = {"x%y_z", "B\xC3\xBCro \xC3\x9C", "Office 7000", "Office 7001"};
    std::vector<data::Report> reports;
    data::Report renamed = makeReport(40);
    renamed.name = "Old Name Gone";
    renamed.machine.enclosureSerial = "SN-RENAMED";
    reports.push_back(renamed);
    for (int i = 0; i < 7; ++i) {
        data::Report r = makeReport(i + 1, 1);
        r.name = names[i];
        r.sections[1].items[0].rows[1].value = models[i % 4];
        reports.push_back(std::move(r));
    }
    renamed = makeReport(40, 2);
    renamed.name = "New Name";
    renamed.machine.enclosureSerial = "SN-RENAMED";
    reports.push_back(renamed);
    addAll(*store, reports);
    SqlConnection& connection = store->connection();

    auto list = fleet::listFleet(connection, {}, 0);
    ASSERT_TRUE(list) << list.failure().description;
    ASSERT_EQ(list->lines.size(), 8u);
    auto holding = [&](const std::string& filter) {
        std::vector<std::string> machines;
        for (const auto& entry : list->lines) {
            bool found = false;
            for (const auto& column : fleet::fleetColumns()) {
                found = found || lowerAscii(fleet::fleetCell(entry.line, column.column))
                                         .find(ComparableText(filter)) != std::string::npos;
            }
            if (found) machines.push_back(entry.line.machine);
        }
        return machines;
    };
    const std::vector<std::string> filters{
        "pc-m\xC3\xBC", "M\xC3\x9CLLER", "\"quote\"", "\"", "50%", "%", "_5", "50_", "x%y", "%y_", "\\",
        "k\\s", "\xC3\xBCn\xC3\xAF", "\xC3\x9C", "b\xC3\xBCro", "b", "ab", "office 700", "office 7001",
        "gone", "new name", "zzz", "\xFF\xFE\xFD", "\xC3", "% b\n", "1\n", "core i5"};
    for (const std::string& filter : filters) EXPECT_EQ(listed(connection, filter), holding(filter)) << filter;
    EXPECT_EQ(listed(connection, "lab").size(), 2u);
    EXPECT_EQ(listed(connection, "% b\n").size(), 0u);  // the name's end and the next cell's start
    EXPECT_EQ(listed(connection, "\xC3").size(), 0u);    // no byte of a character alone
    EXPECT_EQ(listed(connection, std::string("pc\0", 3)).size(), 0u);
    // The search's texts are made comparable alike.
    EXPECT_EQ(machinesFound(connection, "\xFF", "\xC3").size(), 0u);
    fleet::SearchQuery query;
    query.model = "\xC3";
    query.os = std::string("\0", 1);
    auto found = fleet::searchFleet(connection, query);
    ASSERT_TRUE(found) << found.failure().description;
    EXPECT_EQ(found->matching, 0u);

    const std::string indexes = "SELECT COUNT(*) FROM pg_indexes WHERE indexname = 'machine_summary_by_text'";
    if (postgres()) {
        EXPECT_EQ(count(indexes), 1);
    }
    // As a version 3 store: no text index yet.
    auto raw = connect();
    ASSERT_TRUE(raw->execute(postgres() ? "ALTER TABLE machine_summary DROP COLUMN key_marked"
                                        : "DROP TABLE summary_text")
                    .ok());
    ASSERT_TRUE(raw->execute("UPDATE store_info SET value = '3' WHERE key = 'schema_version'").ok());
    store.reset();
    store = openStore();
    ASSERT_TRUE(store);
    EXPECT_EQ(count("SELECT value FROM store_info WHERE key = 'schema_version'"), 4);
    EXPECT_EQ(count(postgres() ? indexes : "SELECT COUNT(*) FROM summary_text"), postgres() ? 1 : 8);
    for (const char* filter : {"office 7000", "50%", "new name"}) {
        EXPECT_EQ(listed(store->connection(), filter), holding(filter)) << filter;
    }
}

INSTANTIATE_TEST_SUITE_P(Store, MachineSummary, ::testing::Values("sqlite", "postgresql"), engineName);

}  // namespace
}  // namespace veltrix::store::testing
