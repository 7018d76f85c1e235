#include "providers/linux/dpkg_status.h"

#include "providers/linux/line_scan.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

namespace dpkg_status_detail {

// Whether a line whose first two bytes are `c0` and `c1` (a line end when the
// line is shorter) can matter to the parser: one of the four kept fields by
// its first two letters, an empty line, or one that opens with two blanks
// and so may be blank throughout. A line opening with one blank and then
// text continues a field; every other line is a field that is not kept.
constexpr bool mayMatter(char c0, char c1) {
    if (c0 == '\n') return true;
    if (isBlank(c0)) return isBlank(c1);
    return (c0 == 'P' && c1 == 'a') || (c0 == 'V' && c1 == 'e') || (c0 == 'A' && c1 == 'r') || (c0 == 'S' && c1 == 't');
}

bool mayMatterAt(std::string_view text, std::size_t start) {
    if (start >= text.size()) return false;
    return mayMatter(text[start], start + 1 < text.size() ? text[start + 1] : '\n');
}

#ifdef VELTRIX_LINE_SCAN_AVX2
__attribute__((target("avx2"))) inline __m256i load32(const char* at) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

__attribute__((target("avx2"))) inline __m256i bytesEqual(__m256i bytes, char c) {
    return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c));
}

// isBlank() for 32 bytes: ' ', or '\t' to '\r' as an unsigned distance from '\t'.
__attribute__((target("avx2"))) inline __m256i blanks(__m256i bytes) {
    const __m256i fromTab = _mm256_sub_epi8(bytes, _mm256_set1_epi8('\t'));
    const __m256i inRange = _mm256_cmpeq_epi8(_mm256_min_epu8(fromTab, _mm256_set1_epi8('\r' - '\t')), fromTab);
    return _mm256_or_si256(inRange, bytesEqual(bytes, ' '));
}

// Where the lines that may matter start, for the lines after each byte of
// text[from, to), as offsets from `from`; reads two bytes past `to`. As
// line_scan's collectors, it calls nothing in its loop.
__attribute__((target("avx2"))) std::size_t keptFieldStartsAvx2(const char* data, std::size_t from,
                                                               std::size_t to, std::uint32_t* starts) {
    std::size_t n = 0;
    for (std::size_t i = from; i < to; i += 32) {
        const __m256i ends = bytesEqual(load32(data + i), '\n');
        const __m256i c0 = load32(data + i + 1), c1 = load32(data + i + 2);
        __m256i wanted = _mm256_or_si256(bytesEqual(c0, '\n'), _mm256_and_si256(blanks(c0), blanks(c1)));
        wanted = _mm256_or_si256(wanted, _mm256_and_si256(bytesEqual(c0, 'P'), bytesEqual(c1, 'a')));
        wanted = _mm256_or_si256(wanted, _mm256_and_si256(bytesEqual(c0, 'V'), bytesEqual(c1, 'e')));
        wanted = _mm256_or_si256(wanted, _mm256_and_si256(bytesEqual(c0, 'A'), bytesEqual(c1, 'r')));
        wanted = _mm256_or_si256(wanted, _mm256_and_si256(bytesEqual(c0, 'S'), bytesEqual(c1, 't')));
        for (auto mask = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_and_si256(ends, wanted))); mask != 0;
             mask &= mask - 1)
            starts[n++] = static_cast<std::uint32_t>(i + static_cast<std::size_t>(__builtin_ctz(mask)) + 1 - from);
    }
    return n;
}

// The same, 64 bytes at a time where the processor compares into masks.
#define VELTRIX_AVX512 __attribute__((target("avx512f,avx512bw")))
VELTRIX_AVX512 inline __m512i load64(const char* at) { return _mm512_loadu_si512(at); }

VELTRIX_AVX512 inline __mmask64 bytesEqual64(__m512i bytes, char c) {
    return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(c));
}

VELTRIX_AVX512 inline __mmask64 blanks64(__m512i bytes) {
    return _mm512_cmple_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8('\t')), _mm512_set1_epi8('\r' - '\t')) |
           bytesEqual64(bytes, ' ');
}

VELTRIX_AVX512 std::size_t keptFieldStartsAvx512(const char* data, std::size_t from, std::size_t to,
                                                 std::uint32_t* starts) {
    std::size_t n = 0;
    for (std::size_t i = from; i < to; i += 64) {
        const __m512i c0 = load64(data + i + 1), c1 = load64(data + i + 2);
        const __mmask64 wanted =
            bytesEqual64(c0, '\n') | (blanks64(c0) & blanks64(c1)) | (bytesEqual64(c0, 'P') & bytesEqual64(c1, 'a')) |
            (bytesEqual64(c0, 'V') & bytesEqual64(c1, 'e')) | (bytesEqual64(c0, 'A') & bytesEqual64(c1, 'r')) |
            (bytesEqual64(c0, 'S') & bytesEqual64(c1, 't'));
        for (auto mask = static_cast<std::uint64_t>(bytesEqual64(load64(data + i), '\n') & wanted); mask != 0;
             mask &= mask - 1)
            starts[n++] = static_cast<std::uint32_t>(i + static_cast<std::size_t>(__builtin_ctzll(mask)) + 1 - from);
    }
    return n;
}
#undef VELTRIX_AVX512
#endif

}  // namespace dpkg_status_detail

namespace {

using namespace dpkg_status_detail;

// Calls `visit` with every line of `text` that can matter (see mayMatter),
// without its line end, in order. Most lines of the file are descriptions,
// dependency lists and fields not kept: they are passed over 32 bytes at a
// time where the processor allows, without a branch of their own.
template <typename Visit>
void forEachLineThatMayMatter(std::string_view text, Visit&& visit) {
    auto emit = [&](std::size_t start) {
        std::size_t end = text.find('\n', start);
        std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        visit(line);
    };
    if (mayMatterAt(text, 0)) emit(0);
    std::size_t i = 0;
#ifdef VELTRIX_LINE_SCAN_AVX2
    i = forEachStartByPage(text, 2, __builtin_cpu_supports("avx512bw") ? keptFieldStartsAvx512 : keptFieldStartsAvx2,
                           emit);
#endif
    for (i = text.find('\n', i); i != std::string_view::npos; i = text.find('\n', i + 1))
        if (mayMatterAt(text, i + 1)) emit(i + 1);
}

}  // namespace

std::vector<InstalledPackage> parseDpkgStatus(std::string_view text) {
    // The file holds every field of every package; only four are kept, and
    // those as views of the text: nothing is copied.
    std::vector<InstalledPackage> out;
    out.reserve(text.size() / 1024);  // a package takes about a kilobyte of the file
    InstalledPackage current;
    std::string_view status;
    auto finish = [&] {
        // "want flag state": a held package ("hold ok installed") or one
        // marked for removal ("deinstall ok installed") is still installed.
        const std::size_t space = status.rfind(' ');
        const bool installed = space != std::string_view::npos && status.substr(space + 1) == "installed";
        if (!current.name.empty() && installed) out.push_back(current);
        current = {};
        status = {};
    };
    forEachLineThatMayMatter(text, [&](std::string_view line) {
        if (line.empty()) {
            finish();
            return;
        }
        if (isBlank(line[0])) {
            // A continuation of a long field, or a blank line with spaces in
            // it: only the latter ends the package.
            std::size_t i = 1;
            while (i < line.size() && isBlank(line[i])) ++i;
            if (i == line.size()) finish();
            return;
        }
        auto field = [&](std::string_view name) {
            return line.size() > name.size() && line[name.size()] == ':' && line.compare(0, name.size(), name) == 0;
        };
        auto value = [&](std::string_view name) { return trimView(line.substr(name.size() + 1)); };
        switch (line[0]) {
            case 'P':
                if (field("Package")) current.name = value("Package");
                break;
            case 'V':
                if (field("Version")) current.version = value("Version");
                break;
            case 'A':
                if (field("Architecture")) current.architecture = value("Architecture");
                break;
            case 'S':
                if (field("Status")) status = value("Status");
                break;
            default:
                break;
        }
    });
    finish();
    return out;
}

std::string nativeArchitecture(const std::vector<InstalledPackage>& packages) {
    for (const auto& p : packages)
        if (p.name == "dpkg" && !p.architecture.empty() && p.architecture != "all") return std::string(p.architecture);
    for (const auto& p : packages)
        if (!p.architecture.empty() && p.architecture != "all") return std::string(p.architecture);
    return {};
}

}  // namespace veltrix::linux_provider
