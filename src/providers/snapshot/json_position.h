// Finding where in a JSON text a value sits, so that a refusal can name the
// line and column. Only run once something is wrong: the text has already
// been parsed successfully, so the scanner can skip without checking.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace veltrix::snapshot {

struct TextPosition {
    std::size_t line = 1;
    std::size_t column = 1;
};

// Byte offset of the value reached by `path`: each step is a member index (in
// an object, in file order) or an element index (in an array). With
// `keyOfLast`, the offset of the last member's key instead of its value.
std::size_t offsetOfPath(std::string_view text, const std::vector<std::size_t>& path, bool keyOfLast = false);

// Byte offset of the n-th object key (0-based) in document order.
std::size_t offsetOfNthKey(std::string_view text, std::size_t n);

// 1-based line and column (in bytes) of a byte offset.
TextPosition positionOf(std::string_view text, std::size_t offset);

}  // namespace veltrix::snapshot
