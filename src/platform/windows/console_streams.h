// The program's standard output and error as the command line writes them
// (UTF-8 text): into a console as wide characters, so that every character
// shows whatever code page the console has, which stays as the user set it;
// into a file or a pipe as the UTF-8 bytes themselves.
#pragma once

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace veltrix::win {

// UTF-8 arriving in pieces, turned into UTF-16: a character split between
// two pieces is kept until its end arrives; bytes that are no UTF-8 become
// U+FFFD.
class Utf8ToWide {
public:
    std::wstring feed(std::string_view bytes);
    // What is left at the end (an unfinished character) as U+FFFD.
    std::wstring finish();

private:
    std::string pending_;
};

// True when `handle` is a console screen buffer (not a file, pipe or NUL).
bool isConsole(HANDLE handle);

// Writes all of `text` to the console `console`.
bool writeConsoleText(HANDLE console, std::wstring_view text);

class ConsoleStreams {
public:
    // `attachParent`: the windows-subsystem program, started without a
    // console, takes its parent's console for the streams that were not
    // redirected; its C streams are connected again where the runtime found
    // no handle at start.
    explicit ConsoleStreams(bool attachParent);
    // Flushes both streams and waits until the console has shown them.
    ~ConsoleStreams();
    ConsoleStreams(const ConsoleStreams&) = delete;
    ConsoleStreams& operator=(const ConsoleStreams&) = delete;

    std::FILE* out() const { return out_; }
    std::FILE* err() const { return err_; }
    // Standard error is a console: a progress line may redraw itself there.
    bool errorIsConsole() const { return errorConsole_; }

private:
    struct Writer;

    std::FILE* out_ = stdout;
    std::FILE* err_ = stderr;
    bool outputConsole_ = false;
    bool errorConsole_ = false;
    std::unique_ptr<Writer> writer_;
};

}  // namespace veltrix::win
