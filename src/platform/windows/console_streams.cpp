#include "platform/windows/console_streams.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <vector>

namespace veltrix::win {

namespace {

// How many bytes the UTF-8 sequence that starts with `lead` has; 1 for a
// byte that starts none (the converter marks it).
std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0xC2) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    if (lead < 0xF5) return 4;
    return 1;
}

std::wstring convert(std::string_view bytes) {
    if (bytes.empty()) return {};
    // Without MB_ERR_INVALID_CHARS, bytes that are no UTF-8 become U+FFFD.
    const int size = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, nullptr, 0);
    if (n <= 0) return std::wstring(bytes.size(), L'\xFFFD');
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, wide.data(), n);
    return wide;
}

}  // namespace

std::wstring Utf8ToWide::feed(std::string_view bytes) {
    pending_.append(bytes);
    // The last character may be cut off: find where it starts and whether
    // all of its bytes are here.
    std::size_t complete = pending_.size();
    for (std::size_t back = 1; back <= 4 && back <= pending_.size(); ++back) {
        const auto byte = static_cast<unsigned char>(pending_[pending_.size() - back]);
        if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        if (sequenceLength(byte) > back) complete = pending_.size() - back;
        break;
    }
    std::wstring wide = convert(std::string_view(pending_).substr(0, complete));
    pending_.erase(0, complete);
    return wide;
}

std::wstring Utf8ToWide::finish() {
    std::wstring wide = convert(pending_);
    pending_.clear();
    return wide;
}

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

bool writeConsoleText(HANDLE console, std::wstring_view text) {
    while (!text.empty()) {
        // Consoles of older systems refuse long single writes.
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 8192));
        DWORD written = 0;
        if (!WriteConsoleW(console, text.data(), chunk, &written, nullptr) || written == 0) return false;
        text.remove_prefix(written);
    }
    return true;
}

// A C stream whose bytes a thread of its own reads from a pipe and shows in
// the console as wide characters: the program writes UTF-8 through the C
// runtime as everywhere, and the console never sees bytes it would read in
// its own code page.
struct ConsoleStreams::Writer {
    HANDLE console = nullptr;
    HANDLE readEnd = nullptr;
    std::FILE* stream = nullptr;
    std::thread thread;

    static std::unique_ptr<Writer> open(HANDLE console) {
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) return nullptr;
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_WRONLY | _O_BINARY);
        std::FILE* stream = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
        if (!stream) {
            if (fd >= 0) {
                _close(fd);
            } else {
                CloseHandle(writeEnd);
            }
            CloseHandle(readEnd);
            return nullptr;
        }
        // Each line reaches the console when it is written, as it would
        // written there directly.
        std::setvbuf(stream, nullptr, _IONBF, 0);
        auto writer = std::make_unique<Writer>();
        writer->console = console;
        writer->readEnd = readEnd;
        writer->stream = stream;
        writer->thread = std::thread([console, readEnd] {
            Utf8ToWide decoder;
            std::vector<char> buffer(4096);
            DWORD read = 0;
            while (ReadFile(readEnd, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read > 0) {
                writeConsoleText(console, decoder.feed(std::string_view(buffer.data(), read)));
            }
            writeConsoleText(console, decoder.finish());
        });
        return writer;
    }

    ~Writer() {
        std::fclose(stream);  // the pipe's end: the thread writes what is left and ends
        if (thread.joinable()) thread.join();
        CloseHandle(readEnd);
    }
};

ConsoleStreams::ConsoleStreams(bool attachParent) {
    if (attachParent && !GetConsoleWindow() && AttachConsole(ATTACH_PARENT_PROCESS)) {
        // The streams the parent did not redirect go to its console; the C
        // runtime found no handle for them at start and would drop them.
        for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
            HANDLE handle = GetStdHandle(which);
            if (handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN) continue;
            HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
            if (console != INVALID_HANDLE_VALUE) SetStdHandle(which, console);
        }
    }
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    outputConsole_ = isConsole(output);
    errorConsole_ = isConsole(error);
    if (!outputConsole_ && !errorConsole_) return;
    // One writer when both go to the same console, so that the lines keep
    // their order.
    writer_ = Writer::open(outputConsole_ ? output : error);
    if (!writer_) {
        outputConsole_ = errorConsole_ = false;
        return;
    }
    if (outputConsole_) out_ = writer_->stream;
    if (errorConsole_) err_ = writer_->stream;
}

ConsoleStreams::~ConsoleStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
    writer_.reset();
}

}  // namespace veltrix::win
