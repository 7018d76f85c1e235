#include "data/report_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>

#include "core/ascii.h"
#include "data/html_tables.h"
#include "report/encoding.h"

namespace veltrix::data {

namespace {

constexpr std::string_view kBanner = "VELTRIX Result";
constexpr std::string_view kDesignation = "Designation: ";
constexpr std::string_view kComment = "Comment: ";
constexpr std::string_view kSectionBar = "#000000";

// Strict UTF-8 check (no overlong forms, no surrogates, nothing above
// U+10FFFF): a Windows-1252 page with any byte above 0x7F almost never passes
// it, a browser's UTF-8 re-save always does.
bool isUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        auto b = static_cast<std::uint8_t>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        if (length == 0 || i + length > s.size()) return false;
        // The second byte's range is narrower after the lead bytes whose
        // plain range would admit an overlong form, a surrogate or too large a value.
        const auto second = static_cast<std::uint8_t>(s[i + 1]);
        const std::uint8_t low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
        const std::uint8_t high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
        if (second < low || second > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            if ((static_cast<std::uint8_t>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

std::string toUtf8(std::string_view bytes) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        // The mark says UTF-8: what does not read as UTF-8 after it is U+FFFD.
        bytes.remove_prefix(3);
        return isUtf8(bytes) ? std::string(bytes) : replaceInvalidUtf8(bytes);
    }
    if (isUtf8(bytes)) return std::string(bytes);
    return decodeCp1252(bytes);
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::string_view trimmed(std::string_view s) { return trimView(s); }

bool isSectionTable(const html::Table& table) {
    return !table.rows.empty() && table.rows[0].cells.size() == 1 && table.rows[0].cells[0].bgcolor == kSectionBar;
}

// The factory text file's section is titled with the file's path.
bool isFactoryFileTitle(std::string_view title) {
    std::size_t slash = title.find_last_of("\\/");
    const std::string name = lowerAscii(slash == std::string_view::npos ? title : title.substr(slash + 1));
    return slash != std::string_view::npos && (name == "lang.txt" || name == "reclang.txt" || name == "868.dat");
}

// The one cell of a table's first cell that holds a nested table, if any.
const html::Table* firstNested(const html::Document& doc, const html::Cell& cell) {
    return cell.tables.empty() ? nullptr : &doc.tables[cell.tables.front()];
}

// Slots: a table of one cell per slot, each cell a small table of three rows
// (tag, designation, usage).
void readSlots(const html::Document& doc, const html::Cell& value, Report& report) {
    const html::Table* outer = firstNested(doc, value);
    if (!outer) return;
    for (const html::TableRow& row : outer->rows) {
        for (const html::Cell& cell : row.cells) {
            const html::Table* slot = firstNested(doc, cell);
            if (!slot) continue;
            auto line = [&](std::size_t k) {
                return k < slot->rows.size() && !slot->rows[k].cells.empty() ? slot->rows[k].cells[0].text
                                                                             : std::string();
            };
            report.slots.push_back({line(0), line(1), line(2)});
        }
    }
}

// A paired table: entries two to a line, each a wide cell (description or
// name) and a narrow one (id or version); gap and filler cells in between.
// Returns false when the cell holds no paired table.
bool readPairs(const html::Document& doc, const html::Cell& value, Report& report) {
    const html::Table* outer = firstNested(doc, value);
    if (!outer || outer->rows.empty() || outer->rows[0].cells.empty()) return false;
    const html::Table* inner = firstNested(doc, outer->rows[0].cells[0]);
    if (!inner || inner->rows.empty()) return false;
    const auto& heading = inner->rows[0].cells;
    if (heading.size() < 2 || heading[0].width != "290") return false;
    const bool hotfix = trimmed(heading[1].text) == "Hotfix ID";
    std::vector<Pair>& target = hotfix ? report.hotfixes : report.software;
    for (std::size_t r = 1; r < inner->rows.size(); ++r) {
        const auto& cells = inner->rows[r].cells;
        for (std::size_t c = 0; c + 1 < cells.size(); ++c) {
            if (cells[c].width != "290" || cells[c + 1].width != "60") continue;
            // Hotfixes are listed description first, programs name first.
            if (hotfix) {
                target.push_back({cells[c + 1].text, cells[c].text});
            } else {
                target.push_back({cells[c].text, cells[c + 1].text});
            }
            ++c;
        }
    }
    return true;
}

Section readSection(const html::Document& doc, const html::Table& table, Report& report) {
    Section section;
    section.title = table.rows[0].cells[0].text;
    const bool factory = isFactoryFileTitle(section.title);
    Item item;
    auto finishItem = [&] {
        if (!item.rows.empty()) section.items.push_back(std::move(item));
        item = Item{};
    };
    for (std::size_t r = 1; r < table.rows.size(); ++r) {
        const auto& cells = table.rows[r].cells;
        if (cells.empty()) continue;
        const html::Cell& label = cells[0];
        static const html::Cell kNoCell;
        const html::Cell& value = cells.size() > 1 ? cells[1] : kNoCell;
        if (!label.tables.empty() && !value.tables.empty()) {
            readSlots(doc, value, report);
            continue;
        }
        if (!value.tables.empty() && readPairs(doc, value, report)) continue;
        if (label.text == "Error") {
            // Appended in place: a section of many error rows costs what it weighs.
            if (section.error) {
                *section.error += '\n';
                *section.error += value.text;
            } else {
                section.error = value.text;
            }
            continue;
        }
        if (factory) {
            report.factoryFileLines.push_back(value.text);
        } else if (label.text.empty() && value.text.empty()) {
            finishItem();  // the spacer row between two items
            continue;
        }
        item.rows.push_back({label.text, value.text});
    }
    finishItem();
    return section;
}

void readHeader(const html::Document& doc, Report& report) {
    // The page's own layout table holds the banner, the designation and the comment.
    bool designation = false;
    for (const html::Table& table : doc.tables) {
        if (table.nested) continue;
        for (const html::TableRow& row : table.rows) {
            for (const html::Cell& cell : row.cells) {
                std::string_view text = cell.text;
                if (!designation && startsWith(text, kDesignation)) {
                    report.name = std::string(text.substr(kDesignation.size()));
                    designation = true;
                    continue;
                }
                // The comment cell: a line break, "Comment:", the comment, two line breaks.
                std::string_view body = text;
                if (startsWith(body, "\n")) body.remove_prefix(1);
                if (startsWith(body, kComment) && body.size() >= kComment.size()) {
                    body.remove_prefix(kComment.size());
                    for (int k = 0; k < 2 && !body.empty() && body.back() == '\n'; ++k) body.remove_suffix(1);
                    report.comment = std::string(body);
                }
            }
        }
        break;
    }
    if (!designation && doc.title.size() >= 4) report.name = doc.title.substr(0, doc.title.size() - 4);
}

bool hasBanner(const html::Document& doc) {
    for (const html::Table& table : doc.tables) {
        if (table.nested || table.rows.empty()) continue;
        for (const html::Cell& cell : table.rows[0].cells) {
            if (trimmed(cell.text) == kBanner) return true;
        }
        return false;
    }
    return false;
}

}  // namespace

Result<Report> ParseReport(std::string_view bytes) {
    if (bytes.size() > kMaxReportBytes) {
        return Failure{failure_code::kInvalidArgument, "the file is too large to be a Veltrix report"};
    }
    const std::string text = toUtf8(bytes);
    auto doc = html::ReadTables(text);
    if (!doc) return Failure{failure_code::kInvalidArgument, "not a readable Veltrix report: " +
                                                                 doc.failure().description};
    if (!hasBanner(*doc)) {
        return Failure{failure_code::kInvalidArgument, "not a Veltrix report (no \"VELTRIX Result\" header)"};
    }
    if (!doc->complete) {
        return Failure{failure_code::kInvalidArgument, "the Veltrix report is truncated (its end is missing)"};
    }
    Report report;
    readHeader(*doc, report);
    for (const html::Table& table : doc->tables) {
        if (!isSectionTable(table)) continue;
        report.sections.push_back(readSection(*doc, table, report));
        const Section& section = report.sections.back();
        if (section.title == "Veltrixproperties" && !section.items.empty()) {
            for (const Row& row : section.items.front().rows) {
                if (row.label == "Veltrix-Version") report.version = row.value;
                if (row.label == "Veltrix generated") report.generated = row.value;
            }
        }
    }
    return report;
}

Result<std::string> ReadWholeFile(const std::string& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Failure{failure_code::kFileError, path + ": cannot open the file (missing or unreadable)"};
    std::string bytes;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (bytes.size() > limit) {
            return Failure{failure_code::kFileError, path + ": the file is larger than " +
                                                         std::to_string(limit / (1024 * 1024)) + " MiB"};
        }
    }
    if (in.bad()) return Failure{failure_code::kFileError, path + ": the file could not be read"};
    return bytes;
}

Result<Report> ReadReportFile(const std::string& path) {
    auto bytes = ReadWholeFile(path, kMaxReportBytes);
    if (!bytes) return bytes.failure();
    auto report = ParseReport(*bytes);
    if (!report) return Failure{report.failure().number, path + ": " + report.failure().description};
    return report;
}

}  // namespace veltrix::data
