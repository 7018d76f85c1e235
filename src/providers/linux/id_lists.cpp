#include "providers/linux/id_lists.h"

#include <algorithm>
#include <iterator>

#include "providers/linux/line_scan.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

namespace id_lists_detail {

IdLinePattern::IdLinePattern(std::uint16_t id, std::size_t digits) : bytes{'\n', '\t'}, length(2 + digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t k = 0; k < digits; ++k) bytes[2 + k] = kHex[(id >> (4 * (digits - 1 - k))) & 0xF];
}

#ifdef VELTRIX_LINE_SCAN_AVX2
namespace {
// The id's first two digits are compared first: they rule out nearly every
// vector, where a line end and a tab are in most. Nothing but these helpers,
// which share the loops' target and so are inlined, is called in the loops
// (see line_scan.h).
__attribute__((target("avx2"))) inline __m256i equal32(const char* at, __m256i wanted) {
    return _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)), wanted);
}
__attribute__((target("avx2"))) inline __m256i equalFolded32(const char* at, __m256i wanted) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    return _mm256_cmpeq_epi8(_mm256_or_si256(bytes, _mm256_set1_epi8(0x20)), wanted);
}

template <std::size_t Length>
__attribute__((target("avx2"))) std::size_t startsAvx2(const char* data, std::size_t from, std::size_t to,
                                                      const char* pattern, std::uint32_t* starts) {
    __m256i wanted[Length];
    for (std::size_t k = 0; k < Length; ++k) wanted[k] = _mm256_set1_epi8(pattern[k]);
    std::size_t n = 0;
    for (std::size_t i = from; i < to; i += 32) {
        __m256i hit = _mm256_and_si256(equalFolded32(data + i + 2, wanted[2]), equalFolded32(data + i + 3, wanted[3]));
        if (_mm256_testz_si256(hit, hit)) continue;
        for (std::size_t k = 4; k < Length; ++k) hit = _mm256_and_si256(hit, equalFolded32(data + i + k, wanted[k]));
        hit = _mm256_and_si256(hit, _mm256_and_si256(equal32(data + i, wanted[0]), equal32(data + i + 1, wanted[1])));
        for (auto mask = static_cast<unsigned>(_mm256_movemask_epi8(hit)); mask != 0; mask &= mask - 1)
            starts[n++] = static_cast<std::uint32_t>(i - from + static_cast<std::size_t>(__builtin_ctz(mask)) + 1);
    }
    return n;
}

__attribute__((target("avx512f,avx512bw"))) inline __mmask64 equal64(const char* at, __m512i wanted) {
    return _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(at), wanted);
}
__attribute__((target("avx512f,avx512bw"))) inline __mmask64 equalFolded64(const char* at, __m512i wanted) {
    return _mm512_cmpeq_epi8_mask(_mm512_or_si512(_mm512_loadu_si512(at), _mm512_set1_epi8(0x20)), wanted);
}

template <std::size_t Length>
__attribute__((target("avx512f,avx512bw"))) std::size_t startsAvx512(const char* data, std::size_t from,
                                                                     std::size_t to, const char* pattern,
                                                                     std::uint32_t* starts) {
    __m512i wanted[Length];
    for (std::size_t k = 0; k < Length; ++k) wanted[k] = _mm512_set1_epi8(pattern[k]);
    std::size_t n = 0;
    for (std::size_t i = from; i < to; i += 64) {
        __mmask64 hit = equalFolded64(data + i + 2, wanted[2]) & equalFolded64(data + i + 3, wanted[3]);
        if (hit == 0) continue;
        for (std::size_t k = 4; k < Length; ++k) hit &= equalFolded64(data + i + k, wanted[k]);
        hit &= equal64(data + i, wanted[0]) & equal64(data + i + 1, wanted[1]);
        for (auto mask = static_cast<std::uint64_t>(hit); mask != 0; mask &= mask - 1)
            starts[n++] = static_cast<std::uint32_t>(i - from + static_cast<std::size_t>(__builtin_ctzll(mask)) + 1);
    }
    return n;
}
}  // namespace

std::size_t idLineStartsAvx2(const char* data, std::size_t from, std::size_t to, const IdLinePattern& pattern,
                             std::uint32_t* starts) {
    return pattern.length == 2 + kVendorDigits ? startsAvx2<2 + kVendorDigits>(data, from, to, pattern.bytes, starts)
                                               : startsAvx2<2 + kClassDigits>(data, from, to, pattern.bytes, starts);
}

std::size_t idLineStartsAvx512(const char* data, std::size_t from, std::size_t to, const IdLinePattern& pattern,
                               std::uint32_t* starts) {
    return pattern.length == 2 + kVendorDigits ? startsAvx512<2 + kVendorDigits>(data, from, to, pattern.bytes, starts)
                                               : startsAvx512<2 + kClassDigits>(data, from, to, pattern.bytes, starts);
}
#endif

}  // namespace id_lists_detail

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

using id_lists_detail::kClassDigits;
using id_lists_detail::kVendorDigits;
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
// The starts of the lines of `text` that may be entries of `id`: after a
// line end, a tab and the id's hex digits in any letter case. A vendor can
// have thousands of entries, and the id is looked for among them all only
// when a search by order misses: a new device on an older list.
template <typename Visit>
void forEachLineMaybeOfId(std::string_view text, std::uint16_t id, std::size_t digits, Visit&& visit) {
    using namespace id_lists_detail;
    const IdLinePattern pattern(id, digits);
    const std::size_t length = pattern.length;
    auto matchesAt = [&](std::size_t i) {
        for (std::size_t k = 0; k < length; ++k)
            if ((k >= 2 ? static_cast<char>(text[i + k] | 0x20) : text[i + k]) != pattern.bytes[k]) return false;
        return true;
    };
    std::size_t i = 0;
#ifdef VELTRIX_LINE_SCAN_AVX2
    auto collect = __builtin_cpu_supports("avx512bw") ? idLineStartsAvx512 : idLineStartsAvx2;
    i = forEachStartByPage(
        text, length,
        [&](const char* data, std::size_t from, std::size_t to, std::uint32_t* starts) {
            return collect(data, from, to, pattern, starts);
        },
        visit);
#endif
    for (i = text.find('\n', i); i != std::string_view::npos && i + length <= text.size(); i = text.find('\n', i + 1))
        if (matchesAt(i)) visit(i + 1);
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
    std::call_once(loadOnce_, [this] {
        if (loaded_) return;  // given its text by parse()
        loaded_ = true;
        if (path_.empty()) return;
        file_ = MappedFile::open(path_);
        if (file_) {
            text_ = file_->text();
            index();
        }
    });
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
    if (std::next(first) == last) {
        const std::string_view text = block(*first);
        if (auto name = searchSortedBlock(text, lineStartFrom(text, 1), text.size(), id, digits))
            return std::string(*name);
    }
    // A heading listed more than once, a block out of order or an id the
    // block lacks: every entry line of the heading's blocks with the id is
    // read, and the last names it.
    std::optional<std::string_view> name;
    for (auto heading = first; heading != last; ++heading) {
        const std::string_view text = block(*heading);
        forEachLineMaybeOfId(text, id, digits, [&](std::size_t start) {
            std::string_view line;
            LineCursor(text, start).next(line);
            if (line.size() < 2 || line[1] == '\t') return;
            if (auto e = idAndName(line.substr(1), digits); e && e->first == id) name = e->second;
        });
    }
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
