#include "platform/windows/windows_platform.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <vector>

#include "core/file_line_reader.h"
#include "report/encoding.h"
#include "report/report_stream.h"
#include "platform/windows/utf16.h"

namespace veltrix {

namespace {

// Attribute bits the program reads and sets: read-only, hidden, system,
// directory, archive. Win32's FILE_ATTRIBUTE_NORMAL (128) reads as 0.
constexpr DWORD kKnownAttributes = 0x37;
constexpr std::int32_t kFileNotFound = 53;

Failure lastErrorFailure(std::int32_t number, const std::string& what, const std::string& path) {
    DWORD code = GetLastError();
    std::string text = what + " " + path;
    std::string reason = win::systemMessage(code);
    if (!reason.empty()) text += " (" + reason + ")";
    return Failure{number, text};
}

}  // namespace

WindowsPlatform::WindowsPlatform(std::string programFolder, std::string systemDrive, unsigned codePage)
    : programFolder_(std::move(programFolder)), systemDrive_(std::move(systemDrive)),
      codePage_(codePage ? codePage : GetACP()) {}

bool WindowsPlatform::fileExists(const std::string& path) const {
    DWORD attributes = GetFileAttributesW(win::toWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

Status WindowsPlatform::createEmptyFile(const std::string& path) {
    // OPEN_ALWAYS, not CREATE_ALWAYS: an old report is only replaced by a
    // finished new one.
    HANDLE file = CreateFileW(win::toWide(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lastErrorFailure(failure_code::kFileError, "Cannot create", path);
    CloseHandle(file);
    return {};
}

Result<std::unique_ptr<ReportStream>> WindowsPlatform::openReport(const std::string& path, Messages& messages) {
    auto file = createReplacingFile(path);
    if (!file) return file.failure();
    return reportFileStream(std::move(*file), messages);
}

Result<std::unique_ptr<LineReader>> WindowsPlatform::openTextFile(const std::string& path) {
    std::FILE* f = _wfopen(win::toWide(path).c_str(), L"rb");
    if (!f) return lastErrorFailure(failure_code::kFileError, "Cannot open", path);
    return makeFileLineReader(f);
}

std::optional<std::string> WindowsPlatform::decodeTextLine(std::string_view bytes) const {
    if (bytes.empty()) return std::string();
    const int size = static_cast<int>(bytes.size());
    int length = MultiByteToWideChar(codePage_, 0, bytes.data(), size, nullptr, 0);
    // A code page the system cannot convert (none should reach here): read
    // the bytes as Windows-1252 rather than lose the line.
    if (length <= 0) return decodeCp1252(bytes);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage_, 0, bytes.data(), size, wide.data(), length);
    return win::toUtf8(wide);
}

Result<int> WindowsPlatform::getAttributes(const std::string& path) const {
    DWORD attributes = GetFileAttributesW(win::toWide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return lastErrorFailure(kFileNotFound, "File not found", path);
    return static_cast<int>(attributes & kKnownAttributes);
}

Status WindowsPlatform::setAttributes(const std::string& path, int attributes) {
    DWORD value = static_cast<DWORD>(attributes) & kKnownAttributes & ~FILE_ATTRIBUTE_DIRECTORY;
    if (value == 0) value = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileAttributesW(win::toWide(path).c_str(), value)) {
        return lastErrorFailure(kFileNotFound, "Cannot set attributes of", path);
    }
    return {};
}

Status WindowsPlatform::startProcess(const std::string& program, const std::string& arguments) {
    std::wstring application = win::toWide(program);
    // The command line starts with the program, quoted when it holds a space.
    std::wstring commandLine =
        program.find(' ') == std::string::npos ? application : L"\"" + application + L"\"";
    if (!arguments.empty()) commandLine += L" " + win::toWide(arguments);
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(application.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return lastErrorFailure(kFileNotFound, "File not found: cannot start", program);
    }
    // Not waited for: the program runs beside the scan.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return {};
}

Status WindowsPlatform::openWithShell(const std::string& path) {
    // Shell extensions that a file's viewer brings may be COM objects: the
    // shell wants COM on the calling thread, and no old DDE ways of starting
    // the viewer. A thread that has COM already keeps it as it is.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    HINSTANCE result = ShellExecuteW(nullptr, L"open", win::toWide(path).c_str(), L"", L"", SW_SHOWNORMAL);
    if (SUCCEEDED(com)) CoUninitialize();
    auto code = reinterpret_cast<INT_PTR>(result);
    if (code <= 32) {
        return Failure{static_cast<std::int32_t>(code > 0 ? code : 1),
                       "Cannot open " + path + " in its viewer (" + win::systemMessage(static_cast<DWORD>(code)) +
                           ")"};
    }
    return {};
}

DateTime WindowsPlatform::now() const {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return DateTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

std::string executableFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return ".";
        if (n < buffer.size()) {
            std::wstring path(buffer.data(), n);
            std::size_t slash = path.find_last_of(L"\\/");
            if (slash == std::wstring::npos) return ".";
            std::wstring folder = path.substr(0, slash);
            if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
            return win::toUtf8(folder);
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace veltrix
