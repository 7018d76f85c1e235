// Finds the lines of a large text, or those that open a certain way, without
// a call per line to look for its end: the id lists are over a megabyte of
// which a lookup wants a few hundred lines. A vector of bytes is compared at
// a time with a line end and the bytes after it with a tab, so that only the
// lines wanted cost a branch; 64 bytes at a time on processors with
// AVX-512, 32 with AVX2, else 16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VELTRIX_LINE_SCAN_AVX2 1
#endif

namespace veltrix::linux_provider {

enum class LineOpening {
    Any,       // every line after a line end
    Untabbed,  // a heading, a comment or a blank line
    OneTab,    // an entry: one tab, then not a second
};

namespace line_scan_detail {

template <LineOpening kind>
constexpr bool opensAs(std::string_view text, std::size_t start) {
    if constexpr (kind == LineOpening::Any) return start <= text.size();
    const bool tab = start < text.size() && text[start] == '\t';
    if constexpr (kind == LineOpening::Untabbed) return start < text.size() && !tab;
    else return tab && !(start + 1 < text.size() && text[start + 1] == '\t');
}

// Bytes a vector step reads past its start: the line end and what follows.
template <LineOpening kind>
constexpr std::size_t kLookahead = kind == LineOpening::Any ? 0 : kind == LineOpening::Untabbed ? 1 : 2;

#ifdef VELTRIX_LINE_SCAN_AVX2
// Where the lines opening as `kind` start after each byte of text[from, to),
// 32 bytes at a time, written to `starts` as offsets from `from`; returns
// how many. Nothing is called in the loop: a call would make the compiler
// clear the vector registers and load the constants again at each step.
template <LineOpening kind>
__attribute__((target("avx2"))) std::size_t startsAvx2(const char* data, std::size_t from, std::size_t to,
                                                      std::uint32_t* starts) {
    const __m256i newline = _mm256_set1_epi8('\n');
    const __m256i tab = _mm256_set1_epi8('\t');
    std::size_t n = 0;
    for (std::size_t i = from; i < to; i += 32) {
        // (No helper lambda here: it would not share this function's target.)
        const __m256i ends = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i)), newline);
        __m256i wanted = ends;
        if constexpr (kind != LineOpening::Any) {
            const __m256i tabAfter =
                _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 1)), tab);
            if constexpr (kind == LineOpening::Untabbed) {
                wanted = _mm256_andnot_si256(tabAfter, ends);
            } else {
                const __m256i tabTwo =
                    _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 2)), tab);
                wanted = _mm256_and_si256(ends, _mm256_andnot_si256(tabTwo, tabAfter));
            }
        }
        for (auto mask = static_cast<unsigned>(_mm256_movemask_epi8(wanted)); mask != 0; mask &= mask - 1)
            starts[n++] = static_cast<std::uint32_t>(i - from + static_cast<std::size_t>(__builtin_ctz(mask)) + 1);
    }
    return n;
}

// The same, 64 bytes at a time where the processor compares into masks.
template <LineOpening kind>
__attribute__((target("avx512f,avx512bw"))) std::size_t startsAvx512(const char* data, std::size_t from,
                                                                     std::size_t to, std::uint32_t* starts) {
    const __m512i newline = _mm512_set1_epi8('\n');
    const __m512i tab = _mm512_set1_epi8('\t');
    std::size_t n = 0;
    for (std::size_t i = from; i < to; i += 64) {
        __mmask64 wanted = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(data + i), newline);
        if constexpr (kind != LineOpening::Any) {
            const __mmask64 tabAfter = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(data + i + 1), tab);
            if constexpr (kind == LineOpening::Untabbed) {
                wanted &= ~tabAfter;
            } else {
                wanted &= tabAfter & ~_mm512_cmpeq_epi8_mask(_mm512_loadu_si512(data + i + 2), tab);
            }
        }
        for (auto mask = static_cast<std::uint64_t>(wanted); mask != 0; mask &= mask - 1)
            starts[n++] = static_cast<std::uint32_t>(i - from + static_cast<std::size_t>(__builtin_ctzll(mask)) + 1);
    }
    return n;
}
#endif

}  // namespace line_scan_detail

#ifdef VELTRIX_LINE_SCAN_AVX2
// Visits the line starts that `collect` (a startsAvx2-like function, reading
// `lookahead` bytes past its range) finds in `text`, a page at a time: the
// starts are found first, then visited. Returns where it stopped, the rest
// being shorter than a page; does nothing without AVX2.
template <typename Collect, typename Visit>
std::size_t forEachStartByPage(std::string_view text, std::size_t lookahead, Collect collect, Visit& visit) {
    constexpr std::size_t kPage = 4096;
    std::size_t i = 0;
    if (!__builtin_cpu_supports("avx2")) return i;
    std::uint32_t starts[kPage];
    for (; i + kPage + lookahead <= text.size(); i += kPage) {
        const std::size_t n = collect(text.data(), i, i + kPage, starts);
        for (std::size_t k = 0; k < n; ++k) visit(i + starts[k]);
    }
    return i;
}
#endif

// Calls `visit` with where each line of `text` opening as `kind` starts.
template <LineOpening kind, typename Visit>
void forEachLineOpening(std::string_view text, Visit&& visit) {
    using namespace line_scan_detail;
    if (opensAs<kind>(text, 0)) visit(std::size_t{0});
    std::size_t i = 0;
#ifdef VELTRIX_LINE_SCAN_AVX2
    i = forEachStartByPage(text, kLookahead<kind>,
                           __builtin_cpu_supports("avx512bw") ? startsAvx512<kind> : startsAvx2<kind>, visit);
#endif
#ifdef __SSE2__
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i tab = _mm_set1_epi8('\t');
    for (; i + 16 + kLookahead<kind> <= text.size(); i += 16) {
        auto load = [&](std::size_t at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at)); };
        const __m128i ends = _mm_cmpeq_epi8(load(i), newline);
        __m128i wanted = ends;
        if constexpr (kind != LineOpening::Any) {
            const __m128i tabAfter = _mm_cmpeq_epi8(load(i + 1), tab);
            wanted = kind == LineOpening::Untabbed
                         ? _mm_andnot_si128(tabAfter, ends)
                         : _mm_and_si128(ends, _mm_andnot_si128(_mm_cmpeq_epi8(load(i + 2), tab), tabAfter));
        }
        for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(wanted)); mask != 0; mask &= mask - 1)
            visit(i + static_cast<std::size_t>(__builtin_ctz(mask)) + 1);
    }
#endif
    for (i = text.find('\n', i); i != std::string_view::npos; i = text.find('\n', i + 1))
        if (opensAs<kind>(text, i + 1)) visit(i + 1);
}

}  // namespace veltrix::linux_provider
