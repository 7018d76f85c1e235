#include "data/report_export.h"

#include <cctype>
#include <cstdio>

namespace veltrix::data {

namespace {

void csvLine(std::string& out, std::initializer_list<std::string_view> fields) {
    // The first field is the input as given; the others lose the page's padding.
    bool first = true;
    for (std::string_view field : fields) {
        if (!first) out += ',';
        out += CsvField(first ? field : TrimmedValue(field));
        first = false;
    }
    out += "\r\n";
}

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The number `text[from, from + digits)` when it is all digits.
std::optional<int> digitsAt(std::string_view text, std::size_t from, std::size_t digits) {
    if (from + digits > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = from; i < from + digits; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// The length of the valid UTF-8 sequence at text[i], 0 when there is none.
std::size_t utf8Length(std::string_view text, std::size_t i) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t length = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    }
    return length;
}

// JSON is written straight into the text: an export of a thousand reports
// would otherwise spend most of its time building and freeing a document
// tree. The reader's values are valid UTF-8, which JSON takes as it is.
class JsonText {
public:
    explicit JsonText(std::string& out) : out_(out) {}

    void string(std::string_view text) {
        out_ += '"';
        std::size_t plain = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c >= 0x80) {
                // A file name from the command line need not be UTF-8: what
                // is not becomes U+FFFD, so the document stays valid JSON.
                const std::size_t length = utf8Length(text, i);
                if (length) {
                    i += length - 1;
                    continue;
                }
                out_.append(text.substr(plain, i - plain));
                out_ += "\\ufffd";
                plain = i + 1;
                continue;
            }
            if (c >= 0x20 && c != '"' && c != '\\') continue;
            out_.append(text.substr(plain, i - plain));
            switch (c) {
                case '"': out_ += "\\\""; break;
                case '\\': out_ += "\\\\"; break;
                case '\n': out_ += "\\n"; break;
                case '\r': out_ += "\\r"; break;
                case '\t': out_ += "\\t"; break;
                default: {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out_ += escaped;
                }
            }
            plain = i + 1;
        }
        out_.append(text.substr(plain));
        out_ += '"';
    }
    void key(std::string_view name, int depth) {
        indent(depth);
        string(name);
        out_ += ": ";
    }
    void indent(int depth) { out_.append(static_cast<std::size_t>(depth) * 2, ' '); }
    void raw(std::string_view text) { out_ += text; }

    // `"name": [ ... ]` with `each(element, depth)` writing one element.
    template <class List, class Each>
    void array(std::string_view name, const List& list, int depth, Each each) {
        key(name, depth);
        if (list.empty()) {
            out_ += "[]";
            return;
        }
        out_ += "[\n";
        bool first = true;
        for (const auto& element : list) {
            if (!first) out_ += ",\n";
            first = false;
            indent(depth + 1);
            each(element, depth + 1);
        }
        out_ += '\n';
        indent(depth);
        out_ += ']';
    }

    // `{ "a": "x", "b": "y" }` on one line, for the small records.
    void record(std::initializer_list<std::pair<std::string_view, std::string_view>> fields) {
        out_ += "{ ";
        bool first = true;
        for (const auto& [name, value] : fields) {
            if (!first) out_ += ", ";
            first = false;
            string(name);
            out_ += ": ";
            string(value);
        }
        out_ += " }";
    }

private:
    std::string& out_;
};

void writeReport(const NamedReport& input, int depth, const Locale* locale, std::string& out) {
    const Report& r = input.report;
    JsonText json(out);
    auto field = [&](std::string_view name, std::string_view value) {
        json.key(name, depth + 1);
        json.string(value);
        json.raw(",\n");
    };
    const auto generatedAt = ScanTimeIso(r.generated, locale);
    json.raw("{\n");
    json.key("veltrix-report", depth + 1);
    json.raw(std::to_string(kReportJsonVersion) + ",\n");
    field("file", input.file);
    field("name", TrimmedValue(r.name));
    field("comment", TrimmedValue(r.comment));
    field("generated", r.generated);
    json.key("generated-at", depth + 1);
    if (generatedAt) {
        json.string(*generatedAt);
    } else {
        json.raw("null");
    }
    json.raw(",\n");
    field("version", TrimmedValue(r.version));
    json.array("sections", r.sections, depth + 1, [&](const Section& section, int d) {
        json.raw("{\n");
        json.key("title", d + 1);
        json.string(section.title);
        json.raw(",\n");
        json.array("items", section.items, d + 1, [&](const Item& item, int) {
            json.raw("[");
            bool first = true;
            for (const Row& row : item.rows) {
                json.raw(first ? " " : ", ");
                first = false;
                json.record({{"label", TrimmedValue(row.label)}, {"value", TrimmedValue(row.value)}});
            }
            json.raw(item.rows.empty() ? "]" : " ]");
        });
        json.raw(",\n");
        json.key("error", d + 1);
        if (section.error) {
            json.string(TrimmedValue(*section.error));
        } else {
            json.raw("null");
        }
        json.raw("\n");
        json.indent(d);
        json.raw("}");
    });
    json.raw(",\n");
    json.array("hotfixes", r.hotfixes, depth + 1,
               [&](const Pair& fix, int) {
                   json.record({{"id", TrimmedValue(fix.first)}, {"description", TrimmedValue(fix.second)}});
               });
    json.raw(",\n");
    json.array("software", r.software, depth + 1,
               [&](const Pair& program, int) {
                   json.record({{"name", TrimmedValue(program.first)}, {"version", TrimmedValue(program.second)}});
               });
    json.raw(",\n");
    json.array("slots", r.slots, depth + 1, [&](const Slot& slot, int) {
        json.record({{"tag", TrimmedValue(slot.tag)},
                     {"designation", TrimmedValue(slot.designation)},
                     {"usage", TrimmedValue(slot.usage)}});
    });
    json.raw(",\n");
    json.array("factory-file-lines", r.factoryFileLines, depth + 1,
               [&](const std::string& line, int) { json.string(line); });
    json.raw("\n");
    json.indent(depth);
    json.raw("}");
}

}  // namespace

std::string ExportJson(const std::vector<NamedReport>& inputs, const Locale* locale) {
    std::string out;
    if (inputs.size() == 1) {
        writeReport(inputs.front(), 0, locale, out);
    } else {
        out += "[\n";
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            if (k) out += ",\n";
            out += "  ";
            writeReport(inputs[k], 1, locale, out);
        }
        out += "\n]";
    }
    out += '\n';
    return out;
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string_view TrimmedValue(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::optional<std::string> ScanTimeIso(std::string_view generated, const Locale* locale) {
    // dd-<month>-yyyy hh:mm, the month a name of any length.
    const std::string_view text = TrimmedValue(generated);
    const std::size_t second = text.find('-', 3);
    if (text.size() < 2 || text.size() > 64 || text[2] != '-' || second == std::string_view::npos) return std::nullopt;
    const auto day = digitsAt(text, 0, 2);
    const auto year = digitsAt(text, second + 1, 4);
    const auto hour = digitsAt(text, second + 6, 2);
    const auto minute = digitsAt(text, second + 9, 2);
    if (!day || !year || !hour || !minute || text.size() != second + 11 || text[second + 5] != ' ' ||
        text[second + 8] != ':') {
        return std::nullopt;
    }
    const std::string month = lowerAscii(text.substr(3, second - 3));
    int number = 0;
    const EnglishLocale english;
    for (int m = 1; m <= 12 && number == 0; ++m) {
        if (lowerAscii(english.monthName(m)) == month || (locale && lowerAscii(locale->monthName(m)) == month)) {
            number = m;
        }
    }
    if (number == 0 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59) return std::nullopt;
    char iso[32];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d", *year, number, *day, *hour, *minute);
    return std::string(iso);
}

std::string ExportCsv(const std::vector<NamedReport>& inputs) {
    std::string out;
    csvLine(out, {"file", "section", "item", "label", "value"});
    for (const NamedReport& input : inputs) {
        const Report& r = input.report;
        const std::string& file = input.file;
        csvLine(out, {file, "", "", "Designation", r.name});
        if (!r.comment.empty()) csvLine(out, {file, "", "", "Comment", r.comment});
        for (const Section& section : r.sections) {
            for (std::size_t k = 0; k < section.items.size(); ++k) {
                const std::string item = std::to_string(k + 1);
                for (const Row& row : section.items[k].rows) csvLine(out, {file, section.title, item, row.label, row.value});
            }
            if (section.error) csvLine(out, {file, section.title, "", "Error", *section.error});
            // The entries of the paired tables and the slots, under their sections.
            if (section.title == "Hotfix") {
                for (std::size_t k = 0; k < r.hotfixes.size(); ++k) {
                    csvLine(out, {file, section.title, std::to_string(k + 1), r.hotfixes[k].first, r.hotfixes[k].second});
                }
            } else if (section.title == "Installed Software") {
                for (std::size_t k = 0; k < r.software.size(); ++k) {
                    csvLine(out, {file, section.title, std::to_string(k + 1), r.software[k].first, r.software[k].second});
                }
            } else if (section.title == "Slots") {
                for (std::size_t k = 0; k < r.slots.size(); ++k) {
                    const std::string item = std::to_string(k + 1);
                    csvLine(out, {file, section.title, item, "Tag", r.slots[k].tag});
                    csvLine(out, {file, section.title, item, "Slot Description", r.slots[k].designation});
                    csvLine(out, {file, section.title, item, "Belegung", r.slots[k].usage});
                }
            }
        }
    }
    return out;
}

}  // namespace veltrix::data
