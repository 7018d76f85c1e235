// A Veltrix report as data: what the page shows, with the markup taken off.
// The report reader fills it from a saved page, and an in-memory scan fills
// it from a snapshot; export, compare and the fleet store read only this,
// never the HTML text.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/machine_identity.h"

namespace veltrix::data {

// One label/value line of a section. Values are decoded text (UTF-8):
// entities turned into characters, `&nbsp;` dropped, the bold of a name kept
// out.
struct Row {
    std::string label;
    std::string value;
    bool operator==(const Row&) const = default;
};

// The rows between two spacer rows of a section: one disk, one module, one
// adapter. Single-item sections hold one item.
struct Item {
    std::vector<Row> rows;
    bool operator==(const Item&) const = default;
};

// One section as titled in the report ("Bios", "HDD", "Networkdevices", ...).
struct Section {
    std::string title;
    std::vector<Item> items;
    // The text of the section's "Error" row, when it has one.
    std::optional<std::string> error;
    bool operator==(const Section&) const = default;
};

// An entry of a paired table: a hotfix (id, description) or a program
// (name, version).
struct Pair {
    std::string first;
    std::string second;
    bool operator==(const Pair&) const = default;
};

struct Slot {
    std::string tag;
    std::string designation;
    std::string usage;
    bool operator==(const Slot&) const = default;
};

struct Report {
    std::string name;       // the designation
    std::string comment;    // empty when the report has none
    std::string generated;  // "Veltrix generated", as the report wrote it
    std::string version;    // "Veltrix-Version"
    // Every section in report order, the paired-table and slot sections too
    // (with their "Error" rows); their entries are below.
    std::vector<Section> sections;
    std::vector<Pair> hotfixes;  // id, description
    std::vector<Pair> software;  // name, version
    std::vector<Slot> slots;
    std::vector<std::string> factoryFileLines;
    // Whose scan it is: a snapshot's own record when it has one, else what
    // the page shows (serial numbers, MAC addresses).
    MachineIdentity machine;
    // When a snapshot was taken (ISO 8601 with offset); empty for a page,
    // whose time is `generated`, and for a snapshot that does not say.
    std::string takenAt;
    // False for a snapshot that does not say when it was taken: its
    // `generated` is only the time it was replayed.
    bool timeKnown = true;
    bool operator==(const Report&) const = default;
};

}  // namespace veltrix::data
