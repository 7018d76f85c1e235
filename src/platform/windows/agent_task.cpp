#include "platform/windows/agent_task.h"

#include <windows.h>
#include <taskschd.h>

#include <cstdio>
#include <string>

#include "core/command_line.h"
#include "platform/windows/utf16.h"
#include "providers/windows/com_handles.h"
#include "providers/windows/hresult.h"

namespace veltrix::win {

namespace {

constexpr wchar_t kTaskName[] = L"Veltrix agent";
// A run that hangs (a server that never answers) does not block the next day's.
constexpr wchar_t kTimeLimit[] = L"PT2H";

Failure schedulerFailure(const char* call, HRESULT hr) {
    if (hr == E_ACCESSDENIED) {
        return Failure{schedule_failure::kNoRights,
                       std::string(call) + ": access denied: the Task Scheduler takes a task that runs as SYSTEM "
                                           "only from an administrator (an elevated command prompt)"};
    }
    Failure failure = hresultFailure(std::string("the Task Scheduler, ") + call, hr);
    failure.number = schedule_failure::kOther;
    return failure;
}

// COM for this thread while the scheduler is used; a thread that has COM
// already keeps it as it is.
class ComScope {
public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    // RPC_E_CHANGED_MODE: COM is there, in the other apartment model, which serves as well.
    bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }
    HRESULT result() const { return hr_; }

private:
    HRESULT hr_;
};

struct Scheduler {
    ComPtr<ITaskService> service;
    ComPtr<ITaskFolder> root;
};

// The local computer's Task Scheduler, as the calling user.
Result<Scheduler> connectScheduler() {
    Scheduler scheduler;
    HRESULT hr = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                  scheduler.service.putVoid());
    if (FAILED(hr)) return schedulerFailure("CoCreateInstance", hr);
    Variant none;
    hr = scheduler.service->Connect(none.get(), none.get(), none.get(), none.get());
    if (FAILED(hr)) return schedulerFailure("Connect", hr);
    hr = scheduler.service->GetFolder(Bstr(std::wstring_view(L"\\")).get(), scheduler.root.put());
    if (FAILED(hr)) return schedulerFailure("GetFolder", hr);
    return scheduler;
}

std::wstring programFolder(const std::wstring& program) {
    const std::size_t slash = program.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : program.substr(0, slash);
}

// veltrix.com, the console build, waits for and reports what a run does;
// beside veltrix.exe it is the one the task starts.
std::wstring consoleProgram() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return L"veltrix.com";
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::wstring beside = programFolder(path) + L"\\veltrix.com";
    return GetFileAttributesW(beside.c_str()) == INVALID_FILE_ATTRIBUTES ? path : beside;
}

void setText(Variant& v, const wchar_t* text) {
    v.put()->vt = VT_BSTR;
    v.get().bstrVal = SysAllocString(text);
}

}  // namespace

Status scheduleAgentTask(const DailyAgentRun& run) {
    ComScope com;
    if (!com.usable()) return schedulerFailure("CoInitializeEx", com.result());
    auto scheduler = connectScheduler();
    if (!scheduler) return scheduler.failure();
    ComPtr<ITaskDefinition> task;
    HRESULT hr = scheduler->service->NewTask(0, task.put());
    if (FAILED(hr)) return schedulerFailure("NewTask", hr);

    ComPtr<IRegistrationInfo> info;
    hr = task->get_RegistrationInfo(info.put());
    if (SUCCEEDED(hr)) hr = info->put_Author(Bstr(std::wstring_view(L"Veltrix")).get());
    if (SUCCEEDED(hr)) {
        hr = info->put_Description(
            Bstr(std::wstring_view(L"Scans this computer and sends the scan to its Veltrix fleet server.")).get());
    }
    if (FAILED(hr)) return schedulerFailure("RegistrationInfo", hr);

    ComPtr<ITaskSettings> settings;
    hr = task->get_Settings(settings.put());
    // A computer that was off at the time runs the scan when it is next on.
    if (SUCCEEDED(hr)) hr = settings->put_StartWhenAvailable(VARIANT_TRUE);
    if (SUCCEEDED(hr)) hr = settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE);
    if (SUCCEEDED(hr)) hr = settings->put_StopIfGoingOnBatteries(VARIANT_FALSE);
    if (SUCCEEDED(hr)) hr = settings->put_MultipleInstances(TASK_INSTANCES_IGNORE_NEW);
    if (SUCCEEDED(hr)) hr = settings->put_ExecutionTimeLimit(Bstr(std::wstring_view(kTimeLimit)).get());
    if (FAILED(hr)) return schedulerFailure("Settings", hr);

    ComPtr<ITriggerCollection> triggers;
    ComPtr<ITrigger> trigger;
    ComPtr<IDailyTrigger> daily;
    hr = task->get_Triggers(triggers.put());
    if (SUCCEEDED(hr)) hr = triggers->Create(TASK_TRIGGER_DAILY, trigger.put());
    if (SUCCEEDED(hr)) hr = trigger->QueryInterface(IID_IDailyTrigger, daily.putVoid());
    if (FAILED(hr)) return schedulerFailure("a daily trigger", hr);
    // Local time without a zone: the time of day wherever the computer is.
    wchar_t start[32];
    std::swprintf(start, 32, L"2020-01-01T%02d:%02d:00", run.hour, run.minute);
    hr = daily->put_StartBoundary(Bstr(std::wstring_view(start)).get());
    if (SUCCEEDED(hr)) hr = daily->put_DaysInterval(1);
    if (FAILED(hr)) return schedulerFailure("the daily trigger's time", hr);

    ComPtr<IActionCollection> actions;
    ComPtr<IAction> action;
    ComPtr<IExecAction> exec;
    hr = task->get_Actions(actions.put());
    if (SUCCEEDED(hr)) hr = actions->Create(TASK_ACTION_EXEC, action.put());
    if (SUCCEEDED(hr)) hr = action->QueryInterface(IID_IExecAction, exec.putVoid());
    if (FAILED(hr)) return schedulerFailure("an action", hr);
    const std::wstring program = consoleProgram();
    std::wstring arguments;
    for (const std::string& argument : run.arguments) {
        arguments += (arguments.empty() ? L"" : L" ") + QuoteCommandLineArgument(toWide(argument));
    }
    hr = exec->put_Path(Bstr(std::wstring_view(program)).get());
    if (SUCCEEDED(hr)) hr = exec->put_Arguments(Bstr(std::wstring_view(arguments)).get());
    if (SUCCEEDED(hr)) hr = exec->put_WorkingDirectory(Bstr(std::wstring_view(programFolder(program))).get());
    if (FAILED(hr)) return schedulerFailure("the action's program", hr);

    // SYSTEM reads what only it may (the agent's key among it) and needs no
    // password, so that the task survives every user's password change. The
    // registration sets the task's principal from these two.
    Variant system;
    setText(system, L"SYSTEM");
    Variant noPassword;
    setText(noPassword, L"");
    Variant noSecurity;
    ComPtr<IRegisteredTask> registered;
    hr = scheduler->root->RegisterTaskDefinition(Bstr(std::wstring_view(kTaskName)).get(), task.get(),
                                                 TASK_CREATE_OR_UPDATE, system.get(), noPassword.get(),
                                                 TASK_LOGON_SERVICE_ACCOUNT, noSecurity.get(), registered.put());
    if (FAILED(hr)) return schedulerFailure("RegisterTaskDefinition", hr);
    return {};
}

Status unscheduleAgentTask() {
    ComScope com;
    if (!com.usable()) return schedulerFailure("CoInitializeEx", com.result());
    auto scheduler = connectScheduler();
    if (!scheduler) return scheduler.failure();
    const HRESULT hr = scheduler->root->DeleteTask(Bstr(std::wstring_view(kTaskName)).get(), 0);
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
        return Failure{schedule_failure::kNoTask, "there is no scheduled task \"Veltrix agent\" to remove"};
    }
    if (FAILED(hr)) return schedulerFailure("DeleteTask", hr);
    return {};
}

}  // namespace veltrix::win
