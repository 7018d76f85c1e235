// Two reports of a machine compared section by section: the items added,
// removed and changed. Items are matched by what identifies them (a disk's
// serial number, a module's bank and slot, an adapter's MAC address, a CPU's
// DeviceID, a program's name, a hotfix's id), so order alone is no difference;
// a program whose name changed only by its version is upgraded;
// the scan time and the report name are not compared.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "data/report_model.h"

namespace veltrix::data {

struct RowChange {
    std::string label;
    std::optional<std::string> before;  // empty: the row is new
    std::optional<std::string> after;   // empty: the row is gone
};

struct ItemEntry {
    std::string caption;  // what the item is called, with its identity
    std::vector<Row> rows;
};

struct ChangedItem {
    std::string caption;
    std::vector<RowChange> changes;
};

// A program whose name, with its version left out, stayed while its version
// moved: one change rather than a removal and an addition.
struct UpgradedItem {
    ItemEntry before;
    ItemEntry after;
    std::string text;  // "7-Zip 23.01 (x64) 23.01 → 7-Zip 24.08 (x64) 24.08"
};

struct SectionDiff {
    std::string title;
    std::vector<ItemEntry> added;
    std::vector<ItemEntry> removed;
    std::vector<ChangedItem> changed;
    std::vector<UpgradedItem> upgraded;  // the installed software only
    bool empty() const { return added.empty() && removed.empty() && changed.empty() && upgraded.empty(); }
};

struct Comparison {
    // Only the sections that differ, in the order of the new report (the
    // sections only the old one has at the end).
    std::vector<SectionDiff> sections;
    // Set when the two scans show different UUIDs or serials: why they are
    // not of one machine.
    std::optional<std::string> differentMachines;
    bool same() const { return sections.empty(); }
};

Comparison CompareReports(const Report& before, const Report& after);

}  // namespace veltrix::data
