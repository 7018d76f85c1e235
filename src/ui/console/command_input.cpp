#include "ui/console/command_input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "core/timestamp.h"
#include "core/utf8_path.h"
#include "data/load_input.h"

namespace veltrix {

namespace {

// A name as a message line shows it: a control character in a file name
// must not move the terminal's cursor or end the line.
std::string printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned>(c));
            out += code;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

Failure refusal(const std::string& path, const std::string& why) {
    return Failure{failure_code::kFileError, printable(InputDisplayName(path)) + ": " + printable(why)};
}

Result<std::string> readStream(std::FILE* f, const std::string& path, std::size_t limit) {
    std::string bytes;
    char buffer[1 << 16];
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
        bytes.append(buffer, n);
        if (bytes.size() > limit) {
            return refusal(path, "larger than " + std::to_string(limit / (1024 * 1024)) + " MiB, not read");
        }
        if (n < sizeof buffer) break;
    }
    if (std::ferror(f)) return refusal(path, std::string("could not be read (") + std::strerror(errno) + ")");
    return bytes;
}

}  // namespace

std::string InputDisplayName(const std::string& path) { return IsStandardStream(path) ? "standard input" : path; }

Result<std::string> ReadCommandInput(const std::string& path, std::FILE* in, std::size_t limit) {
    if (IsStandardStream(path)) {
#ifdef _WIN32
        // Bytes as they are: text mode would drop the CRs of a report and end
        // at the first Ctrl-Z.
        _setmode(_fileno(in), _O_BINARY);
#endif
        return readStream(in, path, limit);
    }
    std::error_code error;
    const auto status = std::filesystem::status(pathFromUtf8(path), error);
    if (std::filesystem::is_directory(status)) {
        return refusal(path, "is a folder, not a regular file (for a captured system use veltrix --batch "
                             "--sysroot " + path + " --name NAME)");
    }
    // A device (/dev/zero, a terminal) has no end to read to; a pipe or a
    // process substitution has one.
    if (std::filesystem::is_character_file(status) || std::filesystem::is_block_file(status) ||
        std::filesystem::is_socket(status)) {
        return refusal(path, "not a regular file");
    }
#ifdef _WIN32
    std::FILE* opened = _wfopen(pathFromUtf8(path).c_str(), L"rb");  // the path is UTF-8, not ANSI
#else
    std::FILE* opened = std::fopen(path.c_str(), "rb");
#endif
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(opened, &std::fclose);
    if (!file) {
        return refusal(path, std::string("cannot open the file (") + std::strerror(errno) + ")");
    }
    return readStream(file.get(), path, limit);
}

Result<data::Report> LoadCommandInput(const std::string& path, const Locale& locale, std::FILE* in) {
    auto bytes = ReadCommandInput(path, in);
    if (!bytes) return bytes.failure();
    return data::LoadInputBytes(*bytes, InputDisplayName(path), LocalNow(), locale);
}

}  // namespace veltrix
