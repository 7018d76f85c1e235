#include "providers/linux/pci_ids.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

namespace {
// "8086  Intel Corporation" -> 0x8086 and "Intel Corporation" (a view into
// the line); nullopt when the line is not one.
std::optional<std::pair<std::uint16_t, std::string_view>> idAndName(std::string_view line, std::size_t digits) {
    if (line.size() <= digits || (line[digits] != ' ' && line[digits] != '\t')) return std::nullopt;
    std::uint16_t id = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = line[i];
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0) return std::nullopt;
        id = static_cast<std::uint16_t>((id << 4) | v);
    }
    std::string_view name = trimView(line.substr(digits));
    if (name.empty()) return std::nullopt;
    return std::make_pair(id, name);
}

constexpr std::size_t kVendorDigits = 4;
constexpr std::size_t kClassDigits = 2;
constexpr std::string_view kClassPrefix = "C ";

bool byId(const auto& a, const auto& b) { return a.id < b.id; }

// The list is kept in id order, so the check mostly spares the sort; file
// order among equal ids stays either way.
template <typename T>
void sortById(std::vector<T>& items) {
    if (!std::is_sorted(items.begin(), items.end(), byId<T, T>)) std::stable_sort(items.begin(), items.end(), byId<T, T>);
}
}  // namespace

void IdsDatabase::parse(std::string_view text) {
    file_.reset();
    given_.assign(text);
    text_ = given_;
    index();
}

namespace {
// Calls `visit` with where each line of `text` starts, except lines that
// open with a tab: the entries, most of a list, need no look at indexing
// time. Sixteen bytes at a time where the processor allows.
template <typename Visit>
void forEachUntabbedLine(std::string_view text, Visit&& visit) {
    if (text.empty()) return;
    if (text[0] != '\t') visit(0);
    std::size_t i = 0;
#ifdef __SSE2__
    const __m128i newline = _mm_set1_epi8('\n');
    for (; i + 16 <= text.size(); i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, newline))); mask != 0;
             mask &= mask - 1) {
            const std::size_t next = i + static_cast<std::size_t>(__builtin_ctz(mask)) + 1;
            if (next < text.size() && text[next] != '\t') visit(next);
        }
    }
#endif
    for (i = text.find('\n', i); i != std::string_view::npos; i = text.find('\n', i + 1))
        if (i + 1 < text.size() && text[i + 1] != '\t') visit(i + 1);
}
}  // namespace

void IdsDatabase::index() {
    loaded_ = true;
    vendors_.clear();
    classes_.clear();
    devices_.clear();
    subclasses_.clear();
    const std::string_view text = text_;
    forEachUntabbedLine(text, [&](std::size_t start) {
        std::string_view line;
        LineCursor(text, start).next(line);
        // Entries, comments and blank lines belong to the heading above them.
        if (line.empty() || line[0] == '#') return;
        if (auto v = idAndName(line, kVendorDigits)) {
            vendors_.push_back({v->first, start});
        } else if (startsWith(line, kClassPrefix)) {
            if (auto c = idAndName(line.substr(kClassPrefix.size()), kClassDigits)) classes_.push_back({c->first, start});
        }
    });
    sortById(vendors_);
    sortById(classes_);
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

const IdsDatabase::Entries& IdsDatabase::entries(std::unordered_map<std::uint16_t, Entries>& cache,
                                                 const std::vector<Heading>& headings, std::uint16_t id,
                                                 std::size_t digits) {
    auto cached = cache.find(id);
    if (cached != cache.end()) return cached->second;
    Entries& out = cache[id];
    auto [first, last] = std::equal_range(headings.begin(), headings.end(), Heading{id, 0}, byId<Heading, Heading>);
    for (auto h = first; h != last; ++h) {
        LineCursor lines(text_, h->offset);
        std::string_view line;
        lines.next(line);  // the heading itself
        while (lines.next(line)) {
            if (line.empty() || line[0] == '#') continue;
            if (line[0] != '\t') break;                        // the next heading
            if (line.size() > 1 && line[1] == '\t') continue;  // subsystems, programming interfaces
            if (auto e = idAndName(line.substr(1), digits)) out.push_back({e->first, e->second});
        }
    }
    sortById(out);
    return out;
}

std::optional<std::string> IdsDatabase::find(const Entries& entries, std::uint16_t id) {
    auto after = std::upper_bound(entries.begin(), entries.end(), Entry{id, {}}, byId<Entry, Entry>);
    if (after == entries.begin() || std::prev(after)->id != id) return std::nullopt;
    return std::string(std::prev(after)->name);  // listed twice: the later line wins
}

std::optional<std::string> IdsDatabase::vendor(std::uint16_t vendorId) {
    load();
    return headingName(vendors_, vendorId, 0, kVendorDigits);
}

std::optional<std::string> IdsDatabase::device(std::uint16_t vendorId, std::uint16_t deviceId) {
    load();
    return find(entries(devices_, vendors_, vendorId, kVendorDigits), deviceId);
}

std::optional<std::string> IdsDatabase::className(std::uint8_t classCode, std::uint16_t subclass) {
    load();
    if (subclass == 0xFFFF) return headingName(classes_, classCode, kClassPrefix.size(), kClassDigits);
    return find(entries(subclasses_, classes_, classCode, kClassDigits), subclass);
}

}  // namespace veltrix::linux_provider
