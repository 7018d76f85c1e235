// Vendor and device names from the hardware id lists (pci.ids, usb.ids).
// The lists are large and a machine needs a few dozen of their names, so
// the file is mapped, not copied, and only its section headings are indexed.
// A vendor's or class's entries are found by binary search, the lists being
// published in id order; when that misses, the block is looked through for
// the id's lines, so that a list out of order still answers.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "providers/linux/line_scan.h"
#include "providers/linux/mapped_file.h"

namespace veltrix::linux_provider {

class IdsDatabase {
public:
    // `path` of the list; empty or missing file: every lookup finds nothing.
    explicit IdsDatabase(std::string path) : path_(std::move(path)) {}
    // Lookups keep views into the text: not to be copied or moved.
    IdsDatabase(const IdsDatabase&) = delete;
    IdsDatabase& operator=(const IdsDatabase&) = delete;

    std::optional<std::string> vendor(std::uint16_t vendorId);
    std::optional<std::string> device(std::uint16_t vendorId, std::uint16_t deviceId);
    // PCI class section: class name (subclass 0xFFFF) or subclass name.
    std::optional<std::string> className(std::uint8_t classCode, std::uint16_t subclass = 0xFFFF);

    // The list's path once the file has been read (or tried), else empty.
    std::string fileRead() const { return loaded_ ? path_ : std::string(); }

    // Maps and indexes the file, if no lookup has: done once, on whichever
    // thread comes first, and a lookup on another thread waits for it. The
    // only member another thread may call while lookups run.
    void load();

    // Takes text in the list format instead of the file; exposed so tests
    // can feed it directly.
    void parse(std::string_view text);

private:
    // A section heading: its id and where its line starts in text_.
    struct Heading {
        std::uint16_t id;
        std::size_t offset;
    };

    void index();
    std::optional<std::string> headingName(const std::vector<Heading>& headings, std::uint16_t id,
                                           std::size_t prefix, std::size_t digits) const;
    // A heading's line and its entries, up to the next line that is
    // neither an entry, a comment nor blank.
    std::string_view block(const Heading& heading) const;
    // The name of entry `id` under heading `headingId`.
    std::optional<std::string> entryName(const std::vector<Heading>& headings, std::uint16_t headingId,
                                         std::uint16_t id, std::size_t digits) const;

    std::string path_;
    bool loaded_ = false;
    std::once_flag loadOnce_;
    std::optional<MappedFile> file_;  // the list, mapped rather than copied
    std::string given_;               // or text given to parse()
    std::string_view text_;
    std::vector<Heading> vendors_;  // sorted by id, file order among equals
    std::vector<Heading> classes_;
    std::vector<std::size_t> blockEnds_;  // starts of the lines that end a block, in file order
};

// The finders behind a lookup that must read a whole block, open to tests:
// where the lines that may be entries of an id start, a vector of bytes at
// a time (see line_scan.h for the collectors' contract; these read
// `pattern.length` bytes past `to`). Bytes are compared with their 0x20 bit
// set, which may let a few others through but never keeps an entry out; the
// caller reads each line found.
namespace id_lists_detail {
inline constexpr std::size_t kVendorDigits = 4;
inline constexpr std::size_t kClassDigits = 2;
// What an entry line of `id` opens with: a line end, a tab and the id's
// `digits` hex digits, small letters.
struct IdLinePattern {
    IdLinePattern(std::uint16_t id, std::size_t digits);
    char bytes[2 + kVendorDigits];
    std::size_t length;
};
#ifdef VELTRIX_LINE_SCAN_AVX2
std::size_t idLineStartsAvx2(const char* data, std::size_t from, std::size_t to, const IdLinePattern& pattern,
                             std::uint32_t* starts);
std::size_t idLineStartsAvx512(const char* data, std::size_t from, std::size_t to, const IdLinePattern& pattern,
                               std::uint32_t* starts);
#endif
}  // namespace id_lists_detail

}  // namespace veltrix::linux_provider
