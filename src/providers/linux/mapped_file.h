// A regular file mapped read-only into memory: its text without copying it
// out of the page cache. Meant for the large lists that are replaced whole
// (a new file renamed over the old one) and never rewritten in place.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace veltrix::linux_provider {

class MappedFile {
public:
    // nullopt when the file is absent, not a regular file or unreadable.
    // An empty file maps to empty text.
    static std::optional<MappedFile> open(const std::string& path);

    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    std::string_view text() const { return {static_cast<const char*>(data_), size_}; }

private:
    MappedFile(void* data, std::size_t size) : data_(data), size_(size) {}
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace veltrix::linux_provider
