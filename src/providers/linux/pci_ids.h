// Vendor and device names from the hardware id lists (pci.ids, usb.ids).
// The file is parsed once, on the first lookup.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

namespace veltrix::linux_provider {

class IdsDatabase {
public:
    // `path` of the list; empty or missing file: every lookup finds nothing.
    explicit IdsDatabase(std::string path) : path_(std::move(path)) {}

    std::optional<std::string> vendor(std::uint16_t vendorId);
    std::optional<std::string> device(std::uint16_t vendorId, std::uint16_t deviceId);
    // PCI class section: class name (subclass 0xFFFF) or subclass name.
    std::optional<std::string> className(std::uint8_t classCode, std::uint16_t subclass = 0xFFFF);

    // Parses text in the list format; exposed so tests can feed it directly.
    void parse(std::string_view text);

private:
    void load();
    std::string path_;
    bool loaded_ = false;
    std::unordered_map<std::uint32_t, std::string> vendors_;
    std::unordered_map<std::uint32_t, std::string> devices_;
    std::unordered_map<std::uint32_t, std::string> classes_;
};

}  // namespace veltrix::linux_provider
