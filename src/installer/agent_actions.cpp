// The installer's own steps for the agent, as a DLL the MSI carries: after an
// install given SERVER and SECRET, enrol this computer and schedule its daily
// run; before a removal, remove the task. Each step runs veltrix.com from
// the install folder, as SYSTEM, and passes what it prints to the
// installer's log, so that a failed enrolment is explained there.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <thread>
#include <vector>

#include "core/command_line.h"

namespace {

using veltrix::QuoteCommandLineArgument;

// Enrolment waits a minute for the server at most; the machine identity
// it reads first may take WMI a while on a busy computer.
constexpr DWORD kLongestStep = 10 * 60 * 1000;

void logLine(MSIHANDLE install, INSTALLMESSAGE kind, const std::wstring& text) {
    PMSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 0, L"[1]");
    MsiRecordSetStringW(record, 1, text.c_str());
    MsiProcessMessage(install, kind, record);
}

std::wstring property(MSIHANDLE install, const wchar_t* name) {
    DWORD length = 0;
    wchar_t empty[1] = L"";
    if (MsiGetPropertyW(install, name, empty, &length) != ERROR_MORE_DATA) return {};
    std::wstring value(length + 1, L'\0');
    ++length;
    if (MsiGetPropertyW(install, name, value.data(), &length) != ERROR_SUCCESS) return {};
    value.resize(length);
    return value;
}

std::wstring fromUtf8(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
    return text;
}

struct StepResult {
    bool ran = false;
    DWORD exitCode = 0;
    std::vector<std::wstring> lines;
};

// Runs veltrix.com with `arguments` (which the log never shows: the
// secret is among them) and logs each line it prints under `step`.
StepResult runAgent(MSIHANDLE install, const std::wstring& folder, const std::wstring& step,
                    const std::vector<std::wstring>& arguments) {
    StepResult result;
    std::wstring program = folder;
    if (!program.empty() && program.back() != L'\\') program += L'\\';
    program += L"veltrix.com";
    std::wstring commandLine = QuoteCommandLineArgument(program);
    for (const std::wstring& argument : arguments) commandLine += L" " + QuoteCommandLineArgument(argument);

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        result.lines.push_back(L"cannot make a pipe (error " + std::to_wstring(GetLastError()) + L")");
        return result;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE nothing = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                 OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nothing;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                        nullptr, folder.c_str(), &startup, &process);
    const DWORD startError = GetLastError();
    CloseHandle(writeEnd);
    if (nothing != INVALID_HANDLE_VALUE) CloseHandle(nothing);
    if (!started) {
        CloseHandle(readEnd);
        result.lines.push_back(L"cannot start " + program + L" (error " + std::to_wstring(startError) + L")");
        return result;
    }
    std::string output;
    std::thread reader([&] {
        char buffer[4096];
        DWORD got = 0;
        // What a step prints is a few lines; more is cut, never waited on.
        while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            if (output.size() < 64 * 1024) output.append(buffer, got);
        }
    });
    if (WaitForSingleObject(process.hProcess, kLongestStep) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, ERROR_TIMEOUT);
        WaitForSingleObject(process.hProcess, INFINITE);
        output += "\nstopped after " + std::to_string(kLongestStep / 60000) + " minutes\n";
    }
    reader.join();
    CloseHandle(readEnd);
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result.ran = true;

    std::size_t begin = 0;
    while (begin < output.size()) {
        std::size_t end = output.find('\n', begin);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) {
            result.lines.push_back(fromUtf8(line));
            logLine(install, INSTALLMESSAGE_INFO, L"Veltrix, " + step + L": " + result.lines.back());
        }
        begin = end + 1;
    }
    return result;
}

bool succeeded(const StepResult& result) { return result.ran && result.exitCode == 0; }

// Fails the install with what the agent said: shown in a message box when
// the install has windows, written to the log when it is silent.
UINT fail(MSIHANDLE install, const std::wstring& what, const StepResult& result) {
    std::wstring text = L"Veltrix: " + what;
    if (result.ran) text += L" (exit code " + std::to_wstring(result.exitCode) + L")";
    for (const std::wstring& line : result.lines) text += L"\r\n" + line;
    PMSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 0, L"[1]");
    MsiRecordSetStringW(record, 1, text.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR), record);
    return ERROR_INSTALL_FAILURE;
}

// The deferred step's data, set by the install: fields separated by '|',
// which neither a folder, a URL nor a file name holds; the secret comes
// last and takes the rest, whatever it holds.
std::vector<std::wstring> fields(const std::wstring& data, std::size_t count) {
    std::vector<std::wstring> out;
    std::size_t begin = 0;
    while (out.size() + 1 < count) {
        const std::size_t bar = data.find(L'|', begin);
        if (bar == std::wstring::npos) break;
        out.push_back(data.substr(begin, bar - begin));
        begin = bar + 1;
    }
    out.push_back(data.substr(begin));
    out.resize(count);
    return out;
}

}  // namespace

// CustomActionData: INSTALLFOLDER|SERVER|CAFILE|SECRET.
extern "C" __declspec(dllexport) UINT __stdcall EnrolAgent(MSIHANDLE install) {
    const std::vector<std::wstring> data = fields(property(install, L"CustomActionData"), 4);
    const std::wstring& folder = data[0];
    std::vector<std::wstring> enrol = {L"agent", L"enrol", L"--server", data[1], L"--secret", data[3]};
    if (!data[2].empty()) {
        enrol.push_back(L"--ca-file");
        enrol.push_back(data[2]);
    }
    const StepResult enrolled = runAgent(install, folder, L"agent enrol", enrol);
    if (!succeeded(enrolled)) return fail(install, L"this computer could not be enrolled with " + data[1], enrolled);
    const StepResult scheduled = runAgent(install, folder, L"agent schedule", {L"agent", L"schedule"});
    if (!succeeded(scheduled)) return fail(install, L"the agent's daily task could not be scheduled", scheduled);
    return ERROR_SUCCESS;
}

// CustomActionData: INSTALLFOLDER. A removal goes on whatever this step
// meets: there may be no task to remove.
extern "C" __declspec(dllexport) UINT __stdcall UnscheduleAgent(MSIHANDLE install) {
    runAgent(install, property(install, L"CustomActionData"), L"agent unschedule", {L"agent", L"unschedule"});
    return ERROR_SUCCESS;
}
