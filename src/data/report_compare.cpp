#include "data/report_compare.h"

#include <cctype>
#include <deque>
#include <map>
#include <unordered_map>
#include <utility>

#include "core/ascii.h"

namespace veltrix::data {

namespace {

constexpr std::string_view kErrorKey = "\x01" "error";
constexpr std::string_view kSoftwareTitle = "Installed Software";

// One section as compare sees it: its entries as items (the paired tables'
// and the slots' entries too, the "Error" row as one more item).
struct SectionView {
    std::string title;
    std::vector<Item> items;
};

std::string_view trim(std::string_view s) { return trimView(s); }

std::string_view rowValue(const Item& item, std::string_view label) {
    for (const Row& row : item.rows) {
        if (row.label == label) return trim(row.value);
    }
    return {};
}

bool isErrorItem(const Item& item) { return item.rows.size() == 1 && item.rows[0].label == "Error"; }

// Sections whose items have an identity of their own: there a changed
// identity is a removed item and an added one, never a change.
bool strictIdentity(std::string_view title) {
    return title == "HDD" || title == "Memory" || title == "Networkdevices" || title == "CPU" || title == "Hotfix" ||
           title == kSoftwareTitle;
}

std::string keyed(std::string_view label, std::string_view value) {
    return value.empty() ? std::string() : std::string(label) + "=" + std::string(value);
}

// Devices without a rule of their own are known by their device id, else by
// their name.
std::string genericIdentity(const Item& item) {
    for (std::string_view label : {"PNPDeviceID", "DeviceID", "ID", "Name", "DeviceName", "Description", "Tag",
                                   "Slot Description"}) {
        if (auto key = keyed(label, rowValue(item, label)); !key.empty()) return key;
    }
    return {};
}

std::string identity(std::string_view title, const Item& item) {
    if (isErrorItem(item)) return std::string(kErrorKey);
    std::string key;
    if (title == "HDD") {
        key = keyed("SerialNumber", rowValue(item, "SerialNumber"));
        if (key.empty()) key = keyed("Model", rowValue(item, "Model"));
    } else if (title == "Memory") {
        std::string_view bank = rowValue(item, "BankLabel"), slot = rowValue(item, "Slot");
        if (!bank.empty() || !slot.empty()) key = "BankLabel+Slot=" + std::string(bank) + "/" + std::string(slot);
        if (key.empty()) key = keyed("SerialNumber", rowValue(item, "SerialNumber"));
    } else if (title == "Networkdevices") {
        key = keyed("Mac-Address", rowValue(item, "Mac-Address"));
    } else if (title == "CPU") {
        key = keyed("DeviceID", rowValue(item, "DeviceID"));
    } else if (title == "Hotfix") {
        key = keyed("Hotfix ID", rowValue(item, "Hotfix ID"));
    } else if (title == "Installed Software") {
        key = keyed("Name", rowValue(item, "Name"));
    }
    return key.empty() ? genericIdentity(item) : key;
}

// A program's name with its version taken out and the spaces left closed up:
// "7-Zip 23.01 (x64)" of version 23.01 is "7-Zip (x64)". Empty for an error
// row or a program without a name.
std::string nameWithoutVersion(const Item& item) {
    if (isErrorItem(item)) return {};
    std::string name(rowValue(item, "Name"));
    const std::string_view version = rowValue(item, "Version");
    if (!version.empty()) {
        for (std::size_t at; (at = name.find(version)) != std::string::npos;) name.erase(at, version.size());
    }
    std::string closed;
    for (char c : name) {
        const bool space = c == ' ' || c == '\t';
        if (space && (closed.empty() || closed.back() == ' ')) continue;
        closed += space ? ' ' : c;
    }
    while (!closed.empty() && closed.back() == ' ') closed.pop_back();
    return closed;
}

// "7-Zip 23.01 (x64) 23.01": the name and the version, as a person reads them.
std::string programText(const Item& item) {
    std::string text(rowValue(item, "Name"));
    const std::string_view version = rowValue(item, "Version");
    if (!version.empty()) text += (text.empty() ? "" : " ") + std::string(version);
    return text;
}

std::string caption(std::string_view title, const Item& item) {
    if (isErrorItem(item)) return "Error";
    std::string_view name;
    for (std::string_view label : {"Name", "Description", "DeviceName", "Model", "Hotfix ID", "Tag", "BankLabel"}) {
        name = rowValue(item, label);
        if (!name.empty()) break;
    }
    if (name.empty() && !item.rows.empty()) name = trim(item.rows[0].value);
    std::string key = identity(title, item);
    const std::size_t equals = key.find('=');
    const std::string keyValue = equals == std::string::npos ? std::string() : key.substr(equals + 1);
    std::string text(name);
    if (!keyValue.empty() && keyValue != name) text += (text.empty() ? "[" : " [") + std::string(keyValue) + "]";
    return text;
}

std::vector<SectionView> viewsOf(const Report& report) {
    std::vector<SectionView> views;
    for (const Section& section : report.sections) {
        SectionView view{section.title, {}};
        if (section.title == "Hotfix") {
            for (const Pair& fix : report.hotfixes) view.items.push_back({{{"Hotfix ID", fix.first}, {"Description", fix.second}}});
        } else if (section.title == "Installed Software") {
            for (const Pair& program : report.software) {
                view.items.push_back({{{"Name", program.first}, {"Version", program.second}}});
            }
        } else if (section.title == "Slots") {
            for (const Slot& slot : report.slots) {
                view.items.push_back({{{"Tag", slot.tag}, {"Slot Description", slot.designation}, {"Belegung", slot.usage}}});
            }
        }
        for (Item item : section.items) {
            // The scan time differs between any two scans: it is not a difference.
            std::erase_if(item.rows, [](const Row& row) { return row.label == "Veltrix generated"; });
            if (!item.rows.empty()) view.items.push_back(std::move(item));
        }
        if (section.error) view.items.push_back({{{"Error", *section.error}}});
        views.push_back(std::move(view));
    }
    return views;
}

std::string contentKey(const Item& item) {
    std::string key;
    for (const Row& row : item.rows) {
        key += row.label;
        key += '\x1f';
        key += trim(row.value);  // the page's padding is no difference
        key += '\x1e';
    }
    return key;
}

// Rows are matched by label and by how often that label came before, so a
// second "Speed" row is compared with the other second "Speed" row.
std::vector<RowChange> rowChanges(const Item& before, const Item& after) {
    using Slot = std::pair<std::string, int>;
    auto index = [](const Item& item) {
        std::vector<std::pair<Slot, const std::string*>> rows;
        std::map<std::string, int> seen;
        for (const Row& row : item.rows) rows.push_back({{row.label, seen[row.label]++}, &row.value});
        return rows;
    };
    auto oldRows = index(before), newRows = index(after);
    std::map<Slot, const std::string*> newBySlot;
    for (const auto& [slot, value] : newRows) newBySlot[slot] = value;
    std::map<Slot, bool> oldSlots;
    std::vector<RowChange> changes;
    for (const auto& [slot, value] : oldRows) {
        oldSlots[slot] = true;
        auto it = newBySlot.find(slot);
        if (it == newBySlot.end()) {
            changes.push_back({slot.first, *value, std::nullopt});
        } else if (trim(*it->second) != trim(*value)) {
            changes.push_back({slot.first, *value, *it->second});
        }
    }
    for (const auto& [slot, value] : newRows) {
        if (!oldSlots.count(slot)) changes.push_back({slot.first, std::nullopt, *value});
    }
    return changes;
}

SectionDiff compareSection(const std::string& title, const std::vector<Item>& before, const std::vector<Item>& after) {
    SectionDiff diff{title, {}, {}, {}};
    std::vector<bool> oldDone(before.size()), newDone(after.size());

    // Identical items first: whatever their order, they are no difference.
    std::unordered_map<std::string, std::deque<std::size_t>> byContent;
    for (std::size_t n = 0; n < after.size(); ++n) byContent[contentKey(after[n])].push_back(n);
    for (std::size_t o = 0; o < before.size(); ++o) {
        auto it = byContent.find(contentKey(before[o]));
        if (it == byContent.end() || it->second.empty()) continue;
        newDone[it->second.front()] = oldDone[o] = true;
        it->second.pop_front();
    }

    // Then the same identity: a changed item. Repeated identities pair in order.
    std::unordered_map<std::string, std::deque<std::size_t>> byIdentity;
    for (std::size_t n = 0; n < after.size(); ++n) {
        if (!newDone[n]) byIdentity[identity(title, after[n])].push_back(n);
    }
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    for (std::size_t o = 0; o < before.size(); ++o) {
        if (oldDone[o]) continue;
        std::string key = identity(title, before[o]);
        if (key.empty()) continue;
        auto it = byIdentity.find(key);
        if (it == byIdentity.end() || it->second.empty()) continue;
        pairs.push_back({o, it->second.front()});
        newDone[it->second.front()] = oldDone[o] = true;
        it->second.pop_front();
    }

    // A section of one item (the BIOS, the operating system) keeps being that
    // one item whatever changed in it.
    if (!strictIdentity(title)) {
        std::vector<std::size_t> oldLeft, newLeft;
        for (std::size_t o = 0; o < before.size(); ++o) {
            if (!oldDone[o] && !isErrorItem(before[o])) oldLeft.push_back(o);
        }
        for (std::size_t n = 0; n < after.size(); ++n) {
            if (!newDone[n] && !isErrorItem(after[n])) newLeft.push_back(n);
        }
        if (oldLeft.size() == 1 && newLeft.size() == 1) {
            pairs.push_back({oldLeft[0], newLeft[0]});
            oldDone[oldLeft[0]] = newDone[newLeft[0]] = true;
        }
    }

    // A program renamed only by its version ("7-Zip 23.01 (x64)" to "7-Zip
    // 24.08 (x64)") is one upgrade. Repeated names pair in order.
    if (title == kSoftwareTitle) {
        std::unordered_map<std::string, std::deque<std::size_t>> byBaseName;
        for (std::size_t n = 0; n < after.size(); ++n) {
            if (!newDone[n]) {
                if (std::string base = nameWithoutVersion(after[n]); !base.empty()) byBaseName[base].push_back(n);
            }
        }
        for (std::size_t o = 0; o < before.size(); ++o) {
            if (oldDone[o]) continue;
            auto it = byBaseName.find(nameWithoutVersion(before[o]));
            if (it == byBaseName.end() || it->second.empty()) continue;
            const std::size_t n = it->second.front();
            it->second.pop_front();
            oldDone[o] = newDone[n] = true;
            diff.upgraded.push_back({{caption(title, before[o]), before[o].rows},
                                     {caption(title, after[n]), after[n].rows},
                                     programText(before[o]) + " \xE2\x86\x92 " + programText(after[n])});
        }
    }

    for (auto [o, n] : pairs) {
        auto changes = rowChanges(before[o], after[n]);
        if (!changes.empty()) diff.changed.push_back({caption(title, after[n]), std::move(changes)});
    }
    for (std::size_t o = 0; o < before.size(); ++o) {
        if (!oldDone[o]) diff.removed.push_back({caption(title, before[o]), before[o].rows});
    }
    for (std::size_t n = 0; n < after.size(); ++n) {
        if (!newDone[n]) diff.added.push_back({caption(title, after[n]), after[n].rows});
    }
    return diff;
}

}  // namespace

Comparison CompareReports(const Report& before, const Report& after) {
    const std::vector<SectionView> oldViews = viewsOf(before), newViews = viewsOf(after);
    // Sections pair by title; a title that occurs twice pairs in order.
    std::map<std::string, std::deque<std::size_t>> oldByTitle;
    for (std::size_t o = 0; o < oldViews.size(); ++o) oldByTitle[oldViews[o].title].push_back(o);
    std::vector<bool> oldUsed(oldViews.size());
    static const std::vector<Item> kNone;

    Comparison comparison;
    comparison.differentMachines = WhyDifferentMachines(before.machine, after.machine);
    auto keep = [&](SectionDiff diff) {
        if (!diff.empty()) comparison.sections.push_back(std::move(diff));
    };
    for (const SectionView& view : newViews) {
        auto& candidates = oldByTitle[view.title];
        if (candidates.empty()) {
            keep(compareSection(view.title, kNone, view.items));
            continue;
        }
        std::size_t o = candidates.front();
        candidates.pop_front();
        oldUsed[o] = true;
        keep(compareSection(view.title, oldViews[o].items, view.items));
    }
    for (std::size_t o = 0; o < oldViews.size(); ++o) {
        if (!oldUsed[o]) keep(compareSection(oldViews[o].title, oldViews[o].items, kNone));
    }
    return comparison;
}

}  // namespace veltrix::data
