// Drives the desktop windows of veltrix.exe as a technician would: adds a
// comment, presses "create &report", types a name (with a character the
// name field must refuse), presses "&Ok", answers the message boxes and
// finds the report next to the program. On the way it presses the keys and
// buttons that must do nothing: Enter in the comment field, Esc in the name
// dialog, and "create &report", "Add Comment", Exit and the close button
// while the scan runs. Needs a display; CI runs it under Wine and Xvfb.
//   desktop_smoke.exe PATH\veltrix.exe [SCREENSHOT_FOLDER [DPI]]
// With a folder, each window is kept there as a PNG picture of the screen.
// With a DPI (the screen's setting the run was started under), each window
// must have its layout's size at that DPI. The program sits in a folder
// named in German, Russian and Chinese, and the report name typed holds
// German and Chinese letters.
// Started by the program as the report viewer, it writes down what it was
// asked to open:
//   desktop_smoke.exe --viewer REPORT
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <shellapi.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/window_layouts.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 120s;  // Wine's first start of its services is slow
constexpr wchar_t kViewerProgId[] = L"VeltrixSmoke.Report";
constexpr wchar_t kViewedMarker[] = L"viewed.txt";

std::wstring windowText(HWND window) {
    // A loaded machine may keep the program from answering for a while: wait
    // rather than read an empty text.
    wchar_t buffer[1024] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL, 60000, nullptr);
    return buffer;
}

std::wstring className(HWND window) {
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, 256);
    return buffer;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    out.pop_back();
    return out;
}

// Thrown to end the test; the program under test is ended on the way out.
struct Failure {
    std::string why;
};

[[noreturn]] void fail(const std::string& why) { throw Failure{why}; }

// The running program and what it showed.
struct Program {
    PROCESS_INFORMATION process{};
    std::vector<std::pair<std::wstring, std::wstring>> messageBoxes;  // title, text

    Program() = default;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    // A test that fails leaves no program behind: Wine would wait for it.
    ~Program() {
        if (!process.hProcess) return;
        if (running()) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 10000);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }

    bool running() const { return WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT; }

    // Top-level windows of the program of a window class.
    std::vector<HWND> windows(const wchar_t* windowClass) const {
        struct Search {
            DWORD pid;
            const wchar_t* windowClass;
            std::vector<HWND> found;
        } search{process.dwProcessId, windowClass, {}};
        EnumWindows(
            [](HWND window, LPARAM data) -> BOOL {
                auto* s = reinterpret_cast<Search*>(data);
                DWORD pid = 0;
                GetWindowThreadProcessId(window, &pid);
                if (pid == s->pid && IsWindowVisible(window) && className(window) == s->windowClass)
                    s->found.push_back(window);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    // Answers every message box on screen with OK, noting what it said.
    void answerMessageBoxes() {
        for (HWND box : windows(L"#32770")) {
            std::wstring text;
            for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
                if (className(child) == L"Static" && !windowText(child).empty()) text = windowText(child);
            messageBoxes.emplace_back(windowText(box), text);
            std::printf("message box \"%s\": %s\n", narrow(windowText(box)).c_str(), narrow(text).c_str());
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    }

    // Waits, answering message boxes, until `done` holds; fails after a while.
    void waitFor(const char* what, const std::function<bool()>& done) {
        const auto until = std::chrono::steady_clock::now() + kPatience;
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) fail(std::string("gave up waiting for ") + what);
            answerMessageBoxes();
            std::this_thread::sleep_for(50ms);
        }
    }

    HWND waitForWindow(const wchar_t* windowClass, const char* what) {
        HWND found = nullptr;
        waitFor(what, [&] {
            if (!running()) fail(std::string("the program ended before showing ") + what);
            auto list = windows(windowClass);
            found = list.empty() ? nullptr : list.front();
            return found != nullptr;
        });
        return found;
    }
};

HWND child(HWND parent, const wchar_t* kind, const wchar_t* caption) {
    HWND found = FindWindowExW(parent, nullptr, kind, caption);
    if (!found) fail("no " + narrow(kind) + " \"" + narrow(caption ? caption : L"") + "\"");
    return found;
}

// Typed as key presses reach a field: one character message each, which
// the field's own filter sees; each waits until the field has handled it.
void type(HWND field, const std::wstring& text) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(field, EM_SETSEL, 0, -1, SMTO_NORMAL, 10000, &ignored);
    for (wchar_t c : text) SendMessageTimeoutW(field, WM_CHAR, c, 1, SMTO_NORMAL, 10000, &ignored);
}

std::string fileText(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Points the shell's "open" of .htm files at this program for the test, so
// that opening the report is seen and starts no browser; undone afterwards.
class ViewerAssociation {
public:
    explicit ViewerAssociation(const std::wstring& self) {
        wchar_t old[256] = {};
        DWORD size = sizeof old;
        hadOld_ = RegGetValueW(HKEY_CLASSES_ROOT, L".htm", nullptr, RRF_RT_REG_SZ, nullptr, old, &size) ==
                  ERROR_SUCCESS;
        old_ = old;
        const std::wstring command = L"\"" + self + L"\" --viewer \"%1\"";
        const std::wstring key = std::wstring(kViewerProgId) + L"\\shell\\open\\command";
        set(L".htm", kViewerProgId);
        set(key.c_str(), command.c_str());
    }
    ~ViewerAssociation() {
        if (hadOld_) set(L".htm", old_.c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, kViewerProgId);
    }

private:
    static void set(const wchar_t* key, const wchar_t* value) {
        const auto bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
        if (RegSetKeyValueW(HKEY_CLASSES_ROOT, key, nullptr, REG_SZ, value, bytes) != ERROR_SUCCESS)
            fail("cannot set the .htm association for the test");
    }
    bool hadOld_ = false;
    std::wstring old_;
};

// A program in the native uninstall key for the test, removed afterwards. A
// 64-bit prefix has no Wow6432Node uninstall key, so the software section
// also shows that a missing key is an empty list.
class RegisteredProgram {
public:
    RegisteredProgram() {
        const wchar_t* values[][2] = {{L"DisplayName", L"Veltrix Smoke Probe"}, {L"DisplayVersion", L"4.5.6"}};
        for (const auto& [name, text] : values) {
            const auto bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
            if (RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, name, REG_SZ, text, bytes) != ERROR_SUCCESS)
                fail("cannot register the probe program");
        }
    }
    ~RegisteredProgram() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey); }
    RegisteredProgram(const RegisteredProgram&) = delete;
    RegisteredProgram& operator=(const RegisteredProgram&) = delete;

private:
    static constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VeltrixSmokeProbe";
};

// Keeps what the screen shows of a window as FOLDER\NAME.png.
class Screenshots {
public:
    explicit Screenshots(std::wstring folder) : folder_(std::move(folder)) {
        if (folder_.empty()) return;
        Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) fail("GDI+ does not start");
        CreateDirectoryW(folder_.c_str(), nullptr);
    }
    ~Screenshots() {
        if (token_) Gdiplus::GdiplusShutdown(token_);
    }

    void take(HWND window, const wchar_t* name) {
        if (folder_.empty()) return;
        // What is on screen only after the window has painted.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
        std::this_thread::sleep_for(300ms);
        // The client area: without a window manager (Xvfb) nobody draws the
        // frame, and what shows there belongs to the windows beneath.
        RECT r{};
        GetClientRect(window, &r);
        MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
        const int width = r.right - r.left, height = r.bottom - r.top;
        if (width <= 0 || height <= 0) fail("the window to picture has no size");
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        const std::wstring path = folder_ + L"\\" + name + L".png";
        Gdiplus::Status status;
        {
            Gdiplus::Bitmap picture(bitmap, nullptr);
            status = picture.Save(path.c_str(), &pngEncoder(), nullptr);
        }
        DeleteObject(bitmap);
        if (status != Gdiplus::Ok) fail("cannot write " + narrow(path));
        std::printf("screenshot %s (%d x %d)\n", narrow(path).c_str(), width, height);
    }

private:
    static const CLSID& pngEncoder() {
        static CLSID png = [] {
            UINT count = 0, size = 0;
            Gdiplus::GetImageEncodersSize(&count, &size);
            std::vector<BYTE> buffer(size);
            auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
            Gdiplus::GetImageEncoders(count, size, encoders);
            for (UINT i = 0; i < count; ++i)
                if (std::wstring(encoders[i].MimeType) == L"image/png") return encoders[i].Clsid;
            fail("GDI+ has no PNG encoder");
        }();
        return png;
    }
    std::wstring folder_;
    ULONG_PTR token_ = 0;
};

// A key as the keyboard delivers it to the focused control, followed by a
// character that marks when the program has handled it: posted messages are
// handled in order, so once the marker is in the field the key was too.
void pressKey(Program& run, HWND field, UINT key, const char* what) {
    PostMessageW(field, WM_KEYDOWN, key, 1);
    PostMessageW(field, WM_KEYUP, key, 0xC0000001);
    PostMessageW(field, WM_CHAR, L'~', 1);
    run.waitFor(what, [&] {
        const std::wstring text = windowText(field);
        return !IsWindow(field) || (!text.empty() && text.back() == L'~');
    });
}

int viewer(const std::wstring& report) {
    const std::wstring folder = report.substr(0, report.find_last_of(L"\\/") + 1);
    std::ofstream(std::filesystem::path(folder + kViewedMarker), std::ios::binary) << narrow(report);
    return 0;
}

}  // namespace

// The window's client area at `dpi`, as its layout gives it; the frame is
// not compared (nobody draws it under Xvfb).
void expectLayoutSize(HWND window, int widthTwips, int heightTwips, int dpi, const char* what) {
    if (dpi <= 0) return;
    RECT client{};
    GetClientRect(window, &client);
    const int width = veltrix::TwipsToPixelsAt(widthTwips, dpi), height = veltrix::TwipsToPixelsAt(heightTwips, dpi);
    if (client.right != width || client.bottom != height)
        fail(std::string(what) + " is " + std::to_string(client.right) + " x " + std::to_string(client.bottom) +
             " pixels at " + std::to_string(dpi) + " DPI, its layout " + std::to_string(width) + " x " +
             std::to_string(height));
    std::printf("%s: %d x %d pixels at %d DPI\n", what, width, height, dpi);
}

void smokeTest(const std::wstring& original, const std::wstring& screenshotFolder, int dpi) {
    Screenshots screenshots(screenshotFolder);

    // A folder of its own: the report lands next to the program.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"veltrix-smoke-Gr\u00f6\u00dfe-\u041f\u0440\u0438\u0432\u0435\u0442-\u62a5\u544a-" +
                                std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring program = folder + L"\\veltrix.exe";
    if (!CopyFileW(original.c_str(), program.c_str(), FALSE)) fail("cannot copy " + narrow(original));
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ViewerAssociation association(self);
    RegisteredProgram probe;

    Program run;
    STARTUPINFOW startup{sizeof startup};
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &run.process))
        fail("cannot start the program");

    HWND main = run.waitForWindow(L"VeltrixMain", "the main window");
    if (windowText(main) != L"Veltrix") fail("the main window's caption is \"" + narrow(windowText(main)) + "\"");
    for (const wchar_t* box : {L"Hotfix Inventory", L"Software Inventory"})
        if (SendMessageW(child(main, L"BUTTON", box), BM_GETCHECK, 0, 0) != BST_CHECKED)
            fail(narrow(box) + " is not ticked at start");

    screenshots.take(main, L"main");
    expectLayoutSize(main, veltrix::kMainClientWidth, veltrix::kMainClientHeight, dpi, "the main window");

    // The comment dialog has no default button: Enter in its field confirms
    // nothing, Esc is Cancel and keeps the comment as it was (none).
    PostMessageW(child(main, L"BUTTON", L"Add Comment"), BM_CLICK, 0, 0);
    HWND comment = run.waitForWindow(L"VeltrixComment", "the comment dialog");
    if (IsWindowEnabled(main)) fail("the main window takes input while the comment dialog is open");
    screenshots.take(comment, L"comment");
    expectLayoutSize(comment, veltrix::kCommentClientWidth, veltrix::kCommentClientHeight, dpi, "the comment dialog");
    HWND commentField = child(comment, L"EDIT", nullptr);
    type(commentField, L"dropped");
    pressKey(run, commentField, VK_RETURN, "Enter in the comment field");
    if (run.windows(L"VeltrixComment").empty()) fail("Enter in the comment field closed the dialog");
    PostMessageW(commentField, WM_KEYDOWN, VK_ESCAPE, 1);
    run.waitFor("Esc to close the comment dialog", [&] { return run.windows(L"VeltrixComment").empty(); });

    // A comment, through the modal comment dialog.
    PostMessageW(child(main, L"BUTTON", L"Add Comment"), BM_CLICK, 0, 0);
    comment = run.waitForWindow(L"VeltrixComment", "the comment dialog again");
    if (!windowText(child(comment, L"EDIT", nullptr)).empty()) fail("the cancelled comment came back");
    type(child(comment, L"EDIT", nullptr), L"smoke comment");
    PostMessageW(child(comment, L"BUTTON", L"OK"), BM_CLICK, 0, 0);
    run.waitFor("the comment dialog to close", [&] { return run.windows(L"VeltrixComment").empty(); });

    // The name dialog ignores Esc; its close button gives the name up as
    // Cancel does.
    PostMessageW(child(main, L"BUTTON", L"create &report"), BM_CLICK, 0, 0);
    HWND dialog = run.waitForWindow(L"VeltrixName", "the name dialog");
    if (windowText(dialog) != L"Set Filename") fail("the name dialog's caption is \"" + narrow(windowText(dialog)) + "\"");
    screenshots.take(dialog, L"name");
    expectLayoutSize(dialog, veltrix::kNameDialogClientWidth, veltrix::kNameDialogClientHeight, dpi, "the name dialog");
    pressKey(run, child(dialog, L"EDIT", nullptr), VK_ESCAPE, "Esc in the name field");
    if (run.windows(L"VeltrixName").empty()) fail("Esc closed the name dialog");
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    run.waitFor("the close button to close the name dialog", [&] { return run.windows(L"VeltrixName").empty(); });

    // Enter presses the button that has the focus: Tab, Tab, Enter is Cancel
    // (and starts no scan), not "&Ok".
    PostMessageW(child(main, L"BUTTON", L"create &report"), BM_CLICK, 0, 0);
    dialog = run.waitForWindow(L"VeltrixName", "the name dialog again");
    type(child(dialog, L"EDIT", nullptr), L"cancelled");
    for (UINT key : {VK_TAB, VK_TAB, VK_RETURN}) PostMessageW(child(dialog, L"EDIT", nullptr), WM_KEYDOWN, key, 1);
    run.waitFor("Enter on Cancel to close the name dialog", [&] { return run.windows(L"VeltrixName").empty(); });
    if (!run.windows(L"VeltrixProgress").empty() || !fileText(folder + L"\\cancelled.htm").empty() ||
        GetFileAttributesW((folder + L"\\cancelled.htm").c_str()) != INVALID_FILE_ATTRIBUTES)
        fail("Enter with the focus on Cancel started a scan");

    // The name, with a slash the field must refuse and letters beyond ASCII.
    PostMessageW(child(main, L"BUTTON", L"create &report"), BM_CLICK, 0, 0);
    dialog = run.waitForWindow(L"VeltrixName", "the name dialog once more");
    HWND field = child(dialog, L"EDIT", nullptr);
    const std::wstring reportName = L"smokereport-Gr\u00f6\u00dfe-\u62a5\u544a";
    type(field, L"smoke/report-Gr\u00f6\u00dfe-\u62a5\u544a");
    if (windowText(field) != reportName)
        fail("the name field holds \"" + narrow(windowText(field)) + "\" after typing \"smoke/report-...\"");
    // While the scan runs, every way to start another one or to end the
    // program is refused. Queued right behind "&Ok", these presses reach the
    // program at the first message pump of the scan, before any section has
    // read the check boxes: an Exit let through there would drop the
    // software section, a second dialog would show while the scan runs.
    const HWND createButton = child(main, L"BUTTON", L"create &report");
    const HWND commentButton = child(main, L"BUTTON", L"Add Comment");
    const HWND exitButton = child(main, L"BUTTON", L"E&xit");
    PostMessageW(child(dialog, L"BUTTON", L"&Ok"), BM_CLICK, 0, 0);
    for (HWND button : {createButton, commentButton, exitButton}) PostMessageW(button, BM_CLICK, 0, 0);
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    auto noDialogDuringTheScan = [&](const std::string& what) {
        if (!run.windows(L"VeltrixName").empty()) fail(what + " during the scan opened the name dialog");
        if (!run.windows(L"VeltrixComment").empty()) fail(what + " during the scan opened the comment dialog");
    };
    HWND progress = run.waitForWindow(L"VeltrixProgress", "the progress window");
    noDialogDuringTheScan("a press queued behind \"&Ok\"");

    // The same again, each handled before the next: the scan cannot end
    // before the message box that closes it is answered, and nothing answers
    // it before these are done, so each press is handled inside the scan.
    auto press = [&](HWND target, UINT message, WPARAM wParam, const char* what) {
        if (!IsWindow(main)) fail("a press during the scan closed the main window");
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutW(target, message, wParam, 0, SMTO_NORMAL, 120000, &ignored))
            fail(std::string("the program did not take ") + what + " during the scan");
        if (!IsWindow(main)) fail(std::string(what) + " during the scan closed the main window");
        noDialogDuringTheScan(what);
    };
    if (IsWindow(progress)) {
        screenshots.take(progress, L"progress");
        expectLayoutSize(progress, veltrix::kProgressClientWidth, veltrix::kProgressClientHeight, dpi,
                         "the progress window");
    }
    press(createButton, BM_CLICK, 0, "\"create report\"");
    press(commentButton, BM_CLICK, 0, "\"Add Comment\"");
    press(exitButton, BM_CLICK, 0, "Exit");
    press(main, WM_SYSCOMMAND, SC_CLOSE, "the close button");

    run.waitFor("the program to end after the scan", [&] {
        noDialogDuringTheScan("a press");
        return !run.running();
    });
    DWORD exitCode = 0;
    GetExitCodeProcess(run.process.hProcess, &exitCode);
    std::printf("the program ended with exit code %lu\n", exitCode);

    const std::wstring report = folder + L"\\" + reportName + L".htm";
    const std::string text = fileText(report);
    // The report is in Windows-1252: the Chinese letters as character references.
    if (text.rfind("<html><head>\r\n<title>smokereport-Gr\xf6\xdf" "e-&#25253;&#21578;.htm</title>\r\n", 0) != 0)
        fail("the report " + narrow(report) + " is missing or does not begin with the page head");
    if (text.size() < 16 || text.compare(text.size() - 16, 16, "</body></html>\r\n") != 0)
        fail("the report does not end with the page foot");
    if (text.find("<B>Comment:</B>&nbsp; smoke comment<br>") == std::string::npos)
        fail("the report lacks the comment");
    // The scan read the check boxes to the end: both switched sections ran.
    const auto software = text.find("&nbsp;Installed Software</strong>");
    if (software == std::string::npos) fail("the report lacks the software section");
    const std::string section = text.substr(software, text.find("</table><br>", software) - software);
    if (section.find("&nbsp;Veltrix Smoke Probe</td>") == std::string::npos)
        fail("the software section does not list the registered program");
    if (section.find(">Error<") != std::string::npos) fail("the software section shows an error: " + section);

    // Either ending of a scan is a finished report; only a saved one is shown.
    bool saved = false;
    for (const auto& [title, message] : run.messageBoxes) saved = saved || title == L"File is saved";
    const std::string viewed = fileText(folder + L"\\" + kViewedMarker);
    if (saved) {
        run.waitFor("the report to be opened", [&] { return !fileText(folder + L"\\" + kViewedMarker).empty(); });
        std::printf("opened in the viewer: %s\n", fileText(folder + L"\\" + kViewedMarker).c_str());
    } else if (!viewed.empty()) {
        fail("a scan that ended with an error opened the report");
    }
    std::printf("desktop smoke test passed: %s, %zu bytes\n", narrow(report).c_str(), text.size());
    std::error_code ignored;  // a failed run keeps its folder to look into
    std::filesystem::remove_all(std::filesystem::path(folder), ignored);
}

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc == 3 && std::wstring(argv[1]) == L"--viewer") return viewer(argv[2]);
    // Sizes and pictures in the screen's own pixels, as the program (aware
    // of each screen's DPI) sees them, not scaled for an older program.
    using Awareness = BOOL(WINAPI*)(HANDLE);
    if (auto aware = reinterpret_cast<Awareness>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext"))))
        aware(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));  // per monitor, version 2
    try {
        if (argc < 2 || argc > 4) fail("usage: desktop_smoke.exe PATH\\veltrix.exe [SCREENSHOT_FOLDER [DPI]]");
        smokeTest(argv[1], argc >= 3 ? argv[2] : L"", argc == 4 ? _wtoi(argv[3]) : 0);
        return 0;
    } catch (const Failure& failure) {
        std::fprintf(stderr, "desktop smoke test: %s\n", failure.why.c_str());
        return 1;
    }
}
