// The helpers every machine text passes through on its way into the page:
// device-id cutting, entity encoding, markup escaping and the Windows-1252
// output encoding, with the properties the report relies on.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "report/encoding.h"
#include "report/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    std::string cut = veltrix::CutPnpDeviceId(text);
    if (cut.size() > text.size() || text.substr(0, cut.size()) != cut) std::abort();  // a prefix, always

    std::string escaped = veltrix::EscapeMarkup(text);
    if (escaped.find_first_of("<>") != std::string::npos) std::abort();

    std::string encoded = escaped;
    veltrix::EncodeHtmlChars(encoded);

    std::string page = veltrix::encodeCp1252(encoded);
    // Page bytes never hold markup the text did not ask for.
    if (page.find_first_of("<>") != std::string::npos) std::abort();

    // A factory file's bytes, read and written again, come back the same
    // wherever Windows-1252 defines a printable character for the byte.
    std::string decoded = veltrix::decodeCp1252(text);
    std::string again = veltrix::encodeCp1252(decoded);
    bool printable = true;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) printable = false;
    }
    if (printable && again != text) std::abort();
    return 0;
}
