// A machine tree as one flat input, so that the fuzzer can mutate whole
// systems: a sequence of records
//   kind (1 byte: 'f' file, 'd' directory, 'l' symbolic link)
//   path length (1 byte), path (relative, '/'-separated)
//   data length (2 bytes, little-endian), data (file content or link target)
// A truncated record ends the archive.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace veltrix::fuzzing {

// Recreates the tree below `root` (which must be empty). Paths are reduced to
// plain names: no "..", no absolute path, nothing written outside `root`;
// links are made last, so no file is ever written through one. Link targets
// are kept as given: they are the reader's business, not the writer's.
void unpackTree(std::string_view archive, const std::filesystem::path& root);

// The archive of a real tree (files up to 65,535 bytes; larger ones are
// cut), for seeding. Stops adding records once `limit` bytes are reached.
std::string packTree(const std::filesystem::path& root, std::size_t limit);

}  // namespace veltrix::fuzzing
