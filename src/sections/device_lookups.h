// Lookups the device sections call for one device at a time. Each opens its
// own connection, keeps its failures to itself (the caller's pending error is
// left as it was) and answers empty text when it finds nothing or fails.
#pragma once

#include <string>
#include <string_view>

#include "sections/scan_context.h"

namespace veltrix {

// The MAC address of the network adapter with this name, or empty text.
std::string GetMacAddressByName(ScanContext& scan, std::string_view adapterName);

// The driver version of the first signed driver whose Description equals
// `description` exactly (letter case counts) and that has a version, or empty
// text. The first call of a scan reads all signed drivers once; the others
// are answered from what it read.
std::string GetDriverVersionByDescription(ScanContext& scan, std::string_view description);

// `text` as the inside of a WQL string literal: a backslash before every
// quote and backslash, so no text can end the literal early.
std::string QuoteWqlString(std::string_view text);

}  // namespace veltrix
