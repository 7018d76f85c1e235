#include "providers/linux/id_lists.h"

#include <algorithm>
#include <iterator>

#include "providers/linux/line_scan.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

namespace {
// The id at the start of "8086  Intel Corporation": `digits` hex digits and
// a blank after them; nullopt otherwise.
std::optional<std::uint16_t> leadingId(std::string_view line, std::size_t digits) {
    if (line.size() <= digits || (line[digits] != ' ' && line[digits] != '\t')) return std::nullopt;
    std::uint16_t id = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = line[i];
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0) return std::nullopt;
        id = static_cast<std::uint16_t>((id << 4) | v);
    }
    return id;
}

// "8086  Intel Corporation" -> 0x8086 and "Intel Corporation" (a view into
// the line); nullopt when the line is not one.
std::optional<std::pair<std::uint16_t, std::string_view>> idAndName(std::string_view line, std::size_t digits) {
    auto id = leadingId(line, digits);
    if (!id) return std::nullopt;
    std::string_view name = trimView(line.substr(digits));
    if (name.empty()) return std::nullopt;
    return std::make_pair(*id, name);
}

// The id of the heading "8086  Intel Corporation" starting at `start`, read
// without looking for the line's end; nullopt when the line is no heading of
// `digits` hex digits or its name is empty, as idAndName() decides.
std::optional<std::uint16_t> headingId(std::string_view text, std::size_t start, std::size_t digits) {
    auto id = leadingId(text.substr(start, digits + 1), digits);
    if (!id) return std::nullopt;
    for (std::size_t i = start + digits + 1; i < text.size() && text[i] != '\n'; ++i)
        if (!isBlank(text[i])) return id;
    return std::nullopt;
}

constexpr std::size_t kVendorDigits = 4;
constexpr std::size_t kClassDigits = 2;
constexpr std::string_view kClassPrefix = "C ";

bool byId(const auto& a, const auto& b) { return a.id < b.id; }

// Where the first line starting at or after `pos` begins.
std::size_t lineStartFrom(std::string_view text, std::size_t pos) {
    if (pos == 0 || pos >= text.size() || text[pos - 1] == '\n') return std::min(pos, text.size());
    const std::size_t newline = text.find('\n', pos);
    return newline == std::string_view::npos ? text.size() : newline + 1;
}

// An entry line ("\t<id>  name") and where the line after it starts.
struct EntryLine {
    std::uint16_t id;
    std::string_view name;
    std::size_t next;
};

// The first entry line that starts at or after the line start `from` and
// before `to`, passing over subsystems, comments and blank lines.
std::optional<EntryLine> entryFrom(std::string_view text, std::size_t from, std::size_t to, std::size_t digits) {
    LineCursor lines(text, from);
    std::string_view line;
    for (std::size_t start = from; start < to && lines.next(line); start = lines.position())
        if (line.size() > 1 && line[0] == '\t' && line[1] != '\t')
            if (auto e = idAndName(line.substr(1), digits)) return EntryLine{e->first, e->second, lines.position()};
    return std::nullopt;
}

// Binary search for `id` among the entries of the block [begin, end), which
// the published lists keep in id order; nullopt when the search misses,
// which in a block out of order does not prove the id absent.
std::optional<std::string_view> searchSortedBlock(std::string_view text, std::size_t begin, std::size_t end,
                                                  std::uint16_t id, std::size_t digits) {
    // Any entry line with the id starts in [lo, hi).
    std::size_t lo = begin, hi = end;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        auto entry = entryFrom(text, lineStartFrom(text, mid), hi, digits);
        if (!entry || entry->id > id) {
            hi = mid;
        } else if (entry->id < id) {
            lo = entry->next;
        } else {
            // Listed twice: the later line wins.
            for (auto later = entryFrom(text, entry->next, end, digits); later && later->id == id;
                 later = entryFrom(text, later->next, end, digits))
                entry = later;
            return entry->name;
        }
    }
    return std::nullopt;
}
}  // namespace

void IdsDatabase::parse(std::string_view text) {
    file_.reset();
    given_.assign(text);
    text_ = given_;
    index();
}

void IdsDatabase::index() {
    loaded_ = true;
    vendors_.clear();
    classes_.clear();
    blockEnds_.clear();
    inOrder_.clear();
    const std::string_view text = text_;
    forEachLineOpening<LineOpening::Untabbed>(text, [&](std::size_t start) {
        // Comments and blank lines belong to the block they stand in. Only
        // the opening of a heading is read here, its name on lookup.
        const char first = text[start];
        if (first == '#' || first == '\n' || (first == '\r' && (start + 1 == text.size() || text[start + 1] == '\n')))
            return;
        blockEnds_.push_back(start);
        if (auto v = headingId(text, start, kVendorDigits)) {
            vendors_.push_back({*v, start});
        } else if (text.substr(start, kClassPrefix.size()) == kClassPrefix) {
            if (auto c = headingId(text, start + kClassPrefix.size(), kClassDigits)) classes_.push_back({*c, start});
        }
    });
    // The lists are kept in id order, so the check mostly spares the sort;
    // file order among equal ids stays either way.
    for (auto* headings : {&vendors_, &classes_})
        if (!std::is_sorted(headings->begin(), headings->end(), byId<Heading, Heading>))
            std::stable_sort(headings->begin(), headings->end(), byId<Heading, Heading>);
}

void IdsDatabase::load() {
    if (loaded_) return;
    loaded_ = true;
    if (path_.empty()) return;
    file_ = MappedFile::open(path_);
    if (file_) {
        text_ = file_->text();
        index();
    }
}

std::optional<std::string> IdsDatabase::headingName(const std::vector<Heading>& headings, std::uint16_t id,
                                                    std::size_t prefix, std::size_t digits) const {
    auto [first, last] = std::equal_range(headings.begin(), headings.end(), Heading{id, 0}, byId<Heading, Heading>);
    if (first == last) return std::nullopt;
    // A heading listed twice: the later one names it.
    std::string_view line;
    LineCursor(text_, std::prev(last)->offset).next(line);
    return std::string(idAndName(line.substr(prefix), digits)->second);
}

std::string_view IdsDatabase::block(const Heading& heading) const {
    auto next = std::upper_bound(blockEnds_.begin(), blockEnds_.end(), heading.offset);
    const std::size_t end = next == blockEnds_.end() ? text_.size() : *next;
    return text_.substr(heading.offset, end - heading.offset);
}

std::optional<std::string> IdsDatabase::entryName(const std::vector<Heading>& headings, std::uint16_t headingId,
                                                  std::uint16_t id, std::size_t digits) const {
    auto [first, last] = std::equal_range(headings.begin(), headings.end(), Heading{headingId, 0}, byId<Heading, Heading>);
    if (first == last) return std::nullopt;
    const bool single = std::next(first) == last;
    if (single) {
        const std::string_view text = block(*first);
        if (auto name = searchSortedBlock(text, lineStartFrom(text, 1), text.size(), id, digits))
            return std::string(*name);
        // A block already seen whole and found in order lacks the id.
        if (inOrder_.count(first->offset)) return std::nullopt;
    }
    // A heading listed more than once, a block out of order or an id the
    // block may lack: every entry line of the heading's blocks is looked at,
    // and the last with the id names it.
    std::optional<std::string_view> name;
    bool ordered = true;
    for (auto heading = first; heading != last; ++heading) {
        const std::string_view text = block(*heading);
        std::uint16_t previous = 0;
        forEachLineOpening<LineOpening::OneTab>(text, [&](std::size_t start) {
            // Most lines hold another id: told apart before the line's end is
            // looked for.
            const auto lineId = leadingId(text.substr(start + 1, digits + 1), digits);
            if (!lineId) return;
            ordered = ordered && *lineId >= previous;
            previous = *lineId;
            if (*lineId != id) return;
            std::string_view line;
            LineCursor(text, start).next(line);
            if (auto e = idAndName(line.substr(1), digits)) name = e->second;
        });
    }
    if (single && ordered) inOrder_.insert(first->offset);
    if (!name) return std::nullopt;
    return std::string(*name);
}

std::optional<std::string> IdsDatabase::vendor(std::uint16_t vendorId) {
    load();
    return headingName(vendors_, vendorId, 0, kVendorDigits);
}

std::optional<std::string> IdsDatabase::device(std::uint16_t vendorId, std::uint16_t deviceId) {
    load();
    return entryName(vendors_, vendorId, deviceId, kVendorDigits);
}

std::optional<std::string> IdsDatabase::className(std::uint8_t classCode, std::uint16_t subclass) {
    load();
    if (subclass == 0xFFFF) return headingName(classes_, classCode, kClassPrefix.size(), kClassDigits);
    return entryName(classes_, classCode, subclass, kClassDigits);
}

}  // namespace veltrix::linux_provider
