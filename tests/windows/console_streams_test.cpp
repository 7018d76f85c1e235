// The command line's text in a console: each character shows whatever code
// page the console has, and the code page stays as the user set it; both
// programs, veltrix.com (a console program) and veltrix.exe (a windows
// program that borrows its parent's console), write their lines there.
// Needs a display for the console window: the run under Wine goes through Xvfb.
#include "platform/windows/console_streams.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "platform/windows/utf16.h"
#include "support/temp_folder.h"

namespace veltrix::win {
namespace {

const std::string kMixed = "Gr\xc3\xb6\xc3\x9f" "e \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xe6\x8a\xa5\xe5\x91\x8a "
                           "\xf0\x9f\x93\x84 end";

TEST(Utf8ToWide, CharactersSplitBetweenPiecesComeOutWhole) {
    const std::wstring whole = toWide(kMixed);
    for (std::size_t cut = 0; cut <= kMixed.size(); ++cut) {
        Utf8ToWide decoder;
        std::wstring text = decoder.feed(std::string_view(kMixed).substr(0, cut));
        text += decoder.feed(std::string_view(kMixed).substr(cut));
        text += decoder.finish();
        ASSERT_EQ(text, whole) << "cut at byte " << cut;
    }
    // Byte by byte, too.
    Utf8ToWide decoder;
    std::wstring text;
    for (char c : kMixed) text += decoder.feed(std::string_view(&c, 1));
    EXPECT_EQ(text + decoder.finish(), whole);
}

TEST(Utf8ToWide, BytesThatAreNoUtf8BecomeReplacementCharacters) {
    Utf8ToWide decoder;
    EXPECT_EQ(decoder.feed("a\xff" "b"), L"a\xfffd" L"b");
    // A character that never ends is marked at the end, not dropped silently.
    EXPECT_EQ(decoder.feed("c\xe6\x8a"), L"c");
    EXPECT_EQ(decoder.finish(), L"\xfffd");
    EXPECT_EQ(decoder.finish(), L"");
}

// A console of the test's own, in the code page of a western European
// system, which cannot show Cyrillic or Chinese as bytes.
class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        FreeConsole();
        ASSERT_TRUE(AllocConsole()) << "no console could be made (no display?)";
        SetConsoleOutputCP(850);
        console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(console, INVALID_HANDLE_VALUE);
        // Wide enough that no message wraps.
        SetConsoleScreenBufferSize(console, {400, 200});
        clear();
    }
    void TearDown() override {
        if (console != INVALID_HANDLE_VALUE) CloseHandle(console);
        FreeConsole();
    }

    void clear() {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        GetConsoleScreenBufferInfo(console, &info);
        DWORD written = 0;
        FillConsoleOutputCharacterW(console, L' ', static_cast<DWORD>(info.dwSize.X * info.dwSize.Y), {0, 0},
                                    &written);
        SetConsoleCursorPosition(console, {0, 0});
    }

    // What the console shows, its lines joined without their trailing spaces.
    std::wstring screen() const {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        GetConsoleScreenBufferInfo(console, &info);
        std::wstring all;
        std::vector<wchar_t> line(static_cast<std::size_t>(info.dwSize.X));
        for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
            DWORD read = 0;
            ReadConsoleOutputCharacterW(console, line.data(), static_cast<DWORD>(line.size()), {0, y}, &read);
            std::wstring text(line.data(), read);
            text.erase(text.find_last_not_of(L' ') + 1);
            all += text + L"\n";
        }
        return all;
    }

    // Runs PROGRAM (next to the tests) in this console and waits for it.
    DWORD run(const wchar_t* program, const std::wstring& arguments, bool handOverHandles) {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring path(self);
        path = path.substr(0, path.find_last_of(L"\\/") + 1) + program;
        std::wstring commandLine = L"\"" + path + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        HANDLE inheritable = INVALID_HANDLE_VALUE;
        if (handOverHandles) {
            // As a command prompt starts a program: its console as all three streams.
            DuplicateHandle(GetCurrentProcess(), console, GetCurrentProcess(), &inheritable, 0, TRUE,
                            DUPLICATE_SAME_ACCESS);
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
            startup.hStdOutput = startup.hStdError = inheritable;
        }
        PROCESS_INFORMATION process{};
        const BOOL started = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, handOverHandles, 0,
                                            nullptr, nullptr, &startup, &process);
        if (inheritable != INVALID_HANDLE_VALUE) CloseHandle(inheritable);
        if (!started) {
            ADD_FAILURE() << "cannot start " << toUtf8(path);
            return 99;
        }
        WaitForSingleObject(process.hProcess, 120000);
        DWORD code = 99;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return code;
    }

    HANDLE console = INVALID_HANDLE_VALUE;
};

TEST_F(ConsoleTest, TheStreamsWriteEveryCharacterAndKeepTheCodePage) {
    {
        ConsoleStreams streams(false);
        EXPECT_TRUE(streams.errorIsConsole());
        std::fputs(("out: " + kMixed + "\n").c_str(), streams.out());
        std::fputs(("err: " + kMixed + "\n").c_str(), streams.err());
    }
    const std::wstring shown = screen();
    EXPECT_NE(shown.find(L"out: " + toWide(kMixed)), std::wstring::npos) << toUtf8(shown);
    EXPECT_NE(shown.find(L"err: " + toWide(kMixed)), std::wstring::npos) << toUtf8(shown);
    EXPECT_LT(shown.find(L"out: "), shown.find(L"err: "));  // in the order written
    EXPECT_EQ(GetConsoleOutputCP(), 850u);
}

TEST_F(ConsoleTest, BothProgramsShowTheirMessagesInTheConsoleTheyWereStartedFrom) {
    veltrix::test::TempFolder folder;
    const std::wstring missing = toWide(folder.str()) + L"\\\u0413\u0440\u00f6\u00dfe \u62a5\u544a.json";
    const std::wstring arguments = L"--batch --name x --snapshot \"" + missing + L"\"";
    for (const wchar_t* program : {L"veltrix.com", L"veltrix.exe"}) {
        SCOPED_TRACE(toUtf8(program));
        clear();
        // The console program gets the console's handles; the windows
        // program none, and finds its parent's console itself.
        const bool consoleProgram = std::wstring(program) == L"veltrix.com";
        EXPECT_EQ(run(program, arguments, consoleProgram), 2u);
        const std::wstring shown = screen();
        EXPECT_NE(shown.find(L"annot read the snapshot file"), std::wstring::npos) << toUtf8(shown);
        EXPECT_NE(shown.find(L"\u0413\u0440\u00f6\u00dfe \u62a5\u544a.json"), std::wstring::npos) << toUtf8(shown);
        EXPECT_EQ(GetConsoleOutputCP(), 850u);
    }
}

}  // namespace
}  // namespace veltrix::win
