#include "ui/console/command_output.h"

#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "core/utf8_path.h"
#include "ui/console/command_input.h"

namespace veltrix {

namespace {

// Why `path` cannot be written before anything is tried, in words that name
// the folder the user has to fix.
std::optional<std::string> unwritableTarget(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(pathFromUtf8(path), error)) return path + ": is a folder; name a file in it";
    std::filesystem::path folder = pathFromUtf8(path).parent_path();
    if (folder.empty()) return std::nullopt;
    if (!std::filesystem::exists(folder, error)) {
        return path + ": the folder " + utf8FromPath(folder) + " does not exist";
    }
    if (!std::filesystem::is_directory(folder, error)) return path + ": " + utf8FromPath(folder) + " is not a folder";
    return std::nullopt;
}

}  // namespace

Status WriteCommandOutput(const std::string& path, std::string_view bytes, std::FILE* out) {
    if (path.empty() || IsStandardStream(path)) {
#ifdef _WIN32
        // CSV and the pages end their lines with CR LF already; text mode
        // would make each of them CR CR LF.
        std::fflush(out);
        _setmode(_fileno(out), _O_BINARY);
#endif
        if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fflush(out) != 0) {
            return Failure{failure_code::kFileError, "cannot write to the standard output"};
        }
        return {};
    }
    if (auto why = unwritableTarget(path)) return Failure{failure_code::kFileError, *why};
    const std::string partial = path + ".part";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        if (!file) return Failure{failure_code::kFileError, path + ": cannot create the file"};
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        file.close();
        if (!file) {
            std::error_code ignored;
            std::filesystem::remove(partial, ignored);
            return Failure{failure_code::kFileError, path + ": cannot write the file"};
        }
    }
    std::error_code error;
    std::filesystem::rename(partial, path, error);
    if (error) {
        std::filesystem::remove(partial, error);
        return Failure{failure_code::kFileError, path + ": cannot replace the file"};
    }
    return {};
}

void PrintLine(std::FILE* f, const std::string& text) {
    std::fputs(text.c_str(), f);
    std::fputc('\n', f);
}

}  // namespace veltrix
