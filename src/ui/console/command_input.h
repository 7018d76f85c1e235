// The files the command line reads (reports, snapshots): `-` is standard
// input, a folder or a device is refused with a message that says so, and
// nothing is read past a size no real input comes near.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "core/locale.h"
#include "core/result.h"
#include "data/report_model.h"

namespace veltrix {

// Snapshots of real machines stay far below this; it keeps a hostile or
// endless input (a pipe that never closes) from being read whole into memory.
inline constexpr std::size_t kMaxCommandInputBytes = 256u * 1024 * 1024;

// True for the name that stands for standard input or output.
inline bool IsStandardStream(const std::string& path) { return path == "-"; }

// How messages and reports name an input: "standard input" for `-`.
std::string InputDisplayName(const std::string& path);

// The whole of `path` (a regular file, a pipe, or `in` for `-`), at most
// `limit` bytes. A folder is refused with a pointer to --sysroot, since a
// folder is most often a captured system given to the wrong option.
Result<std::string> ReadCommandInput(const std::string& path, std::FILE* in,
                                     std::size_t limit = kMaxCommandInputBytes);

// A report or snapshot named on the command line, read as above and then as a
// report (a snapshot through an in-memory scan).
Result<data::Report> LoadCommandInput(const std::string& path, const Locale& locale, std::FILE* in);

}  // namespace veltrix
