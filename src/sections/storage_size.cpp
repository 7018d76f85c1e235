#include "sections/storage_size.h"

#include <cmath>

#include "report/formats.h"

namespace veltrix {

std::optional<double> readByteCount(Frame& frame, const wmi::Object& object, std::string_view name) {
    auto value = frame.read(object, name);
    if (!value) return std::nullopt;
    if (value->isNull()) {
        frame.fail({94, "Invalid use of Null: " + std::string(name)});
        return std::nullopt;
    }
    double bytes = 0;
    // Sizes arrive as unsigned 64-bit counts; anything beyond that range is
    // no size a disk can have.
    constexpr double kLargestCount = 18446744073709551616.0;  // 2^64
    if ((!value->isText() && !value->isNumber()) || !value->toNumber(bytes) || std::fabs(bytes) >= kLargestCount) {
        frame.fail({failure_code::kTypeMismatch, "Type mismatch: " + std::string(name) + " is not a number"});
        return std::nullopt;
    }
    return bytes;
}

std::string diskSizeText(double bytes) {
    // Exactly 1 GB reads "1 GB": it is the smallest size shown in gigabytes.
    if (bytes >= kBytesPerGigabyte) return formatNumberPattern(bytes / kBytesPerGigabyte) + " GB";
    return megabyteText(bytes);
}

std::string megabyteText(double bytes) { return formatNumberPattern(bytes / kBytesPerMegabyte) + " MB"; }

}  // namespace veltrix
