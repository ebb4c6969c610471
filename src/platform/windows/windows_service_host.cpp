#include "platform/windows/windows_service_host.h"

#include "platform/stop_timing.h"
#include "platform/windows/command_text.h"
#include "platform/windows/executable_runs.h"

#include <iterator>

namespace ostrivan::windows {
namespace {

// How long the manager waits between two reports of a pending state; a stop says itself how
// long it may still take.
constexpr DWORD kWaitHint = 30000;
// How long the end of the process waits for the dispatcher to return.
constexpr DWORD kDispatcherExitWait = 5000;
// How long -remove waits for the process of a service that has just stopped to end.
constexpr DWORD kStoppedProcessExitWait = 10000;
// Error, warning and information entries.
constexpr DWORD kTypesSupported = 7;
// After a crash: restarted 5 s later twice, then every 60 s; the count starts again after a
// day without failures.
constexpr DWORD kFirstRestartDelay = 5000;
constexpr DWORD kLaterRestartDelay = 60000;
constexpr DWORD kFailureCountReset = 24 * 60 * 60;
constexpr const wchar_t* kDescription =
    L"Keeps the programs of the Ostrivan monitoring suite running: the alert and graph front "
    L"programs, the trap receiver, the manager and the watcher.";

void SetStringValue(HKEY key, const wchar_t* name, DWORD type, const std::wstring& value,
                    std::string_view what) {
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    const LSTATUS status =
        ::RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    if (status != ERROR_SUCCESS) {
        throw SystemFailure(static_cast<DWORD>(status), what);
    }
}

RegistryKey CreateKey(const std::wstring& path, std::string_view what) {
    HKEY key = nullptr;
    const LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        throw SystemFailure(static_cast<DWORD>(status), what);
    }
    return RegistryKey(key);
}

void RegisterEventSource(const std::wstring& executable) {
    const RegistryKey key = CreateKey(WindowsServiceHost::kEventSourceKey, "event source");
    SetStringValue(key.Get(), L"EventMessageFile", REG_EXPAND_SZ, executable, "event source");
    const DWORD types = kTypesSupported;
    const LSTATUS status = ::RegSetValueExW(key.Get(), L"TypesSupported", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&types), sizeof(types));
    if (status != ERROR_SUCCESS) {
        throw SystemFailure(static_cast<DWORD>(status), "event source");
    }
}

// The service manager restarts a service whose process ended without reporting that it
// stopped; the last action repeats for every later failure.
bool SetFailureActions(SC_HANDLE service) {
    SC_ACTION actions[] = {{SC_ACTION_RESTART, kFirstRestartDelay},
                           {SC_ACTION_RESTART, kFirstRestartDelay},
                           {SC_ACTION_RESTART, kLaterRestartDelay}};
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = kFailureCountReset;
    failure.cActions = static_cast<DWORD>(std::size(actions));
    failure.lpsaActions = actions;
    return ::ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure) != FALSE;
}

// The recovery actions also when the service stops itself with an error, not only when its
// process dies.
bool SetFailureActionsOnError(SC_HANDLE service) {
    SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
    return ::ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag) != FALSE;
}

// Before the system goes down the service gets this long for its stop sequence, as a stop by
// hand does.
bool SetPreshutdownTimeout(SC_HANDLE service) {
    SERVICE_PRESHUTDOWN_INFO info{kLongestStopMs};
    return ::ChangeServiceConfig2W(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &info) != FALSE;
}

bool SetDescription(SC_HANDLE service) {
    std::wstring text = kDescription;
    SERVICE_DESCRIPTIONW description{text.data()};
    return ::ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description) != FALSE;
}

// The one line an administrator finds when a registration by command line (or by the
// installer that runs it) did not happen: what failed, with the system's error.
void ReportCommandFailure(EventLog& eventLog, std::string_view command, DWORD error,
                          std::string_view what) {
    std::string text(command);
    text += " failed: ";
    text += ErrorReportText(SystemFailure(error, what));
    eventLog.Write(kEventKindError, kEventErrorReport, text);
}

bool DeleteRegisteredService(EventLog& eventLog) {
    const ServiceManagerHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        ReportCommandFailure(eventLog, "-remove", ::GetLastError(), "OpenSCManager");
        return false;
    }
    const ServiceManagerHandle service(::OpenServiceW(
        manager.Get(), WindowsServiceHost::kServiceName, DELETE | SERVICE_QUERY_STATUS));
    if (!service) {
        ReportCommandFailure(eventLog, "-remove", ::GetLastError(), "OpenService");
        return false;
    }
    SERVICE_STATUS status{};
    const bool stopping =
        ::QueryServiceStatus(service.Get(), &status) &&
        (status.dwCurrentState == SERVICE_STOPPED || status.dwCurrentState == SERVICE_STOP_PENDING);
    if (!::DeleteService(service.Get())) {
        ReportCommandFailure(eventLog, "-remove", ::GetLastError(), "DeleteService");
        return false;
    }
    // The installer removes or replaces the file right after this command: a stopped
    // service's process must have ended by then. A running service keeps running.
    if (stopping && !WaitForOtherRunsOfThisExecutable(kStoppedProcessExitWait)) {
        eventLog.Write(kEventKindWarning, kEventErrorReport,
                       "-remove: another run of o-service.exe still runs after " +
                           std::to_string(kStoppedProcessExitWait / 1000) +
                           " s; its file stays in use until that run ends");
    }
    return true;
}

} // namespace

std::atomic<WindowsServiceHost*> WindowsServiceHost::instance_{nullptr};

WindowsServiceHost::WindowsServiceHost(FormWindow& window, EventLog& eventLog)
    : window_(window), eventLog_(eventLog) {}

WindowsServiceHost::~WindowsServiceHost() {
    ProcessEnding(0);
    if (dispatcher_) {
        ::WaitForSingleObject(dispatcher_.Get(), kDispatcherExitWait);
    }
    WindowsServiceHost* self = this;
    instance_.compare_exchange_strong(self, nullptr);
}

bool WindowsServiceHost::Register() {
    const ServiceManagerHandle manager(
        ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        ReportCommandFailure(eventLog_, "-install", ::GetLastError(), "OpenSCManager");
        return false;
    }
    const std::wstring executable = ExecutablePath();
    const std::wstring imagePath = QuotedPath(executable);
    const DWORD type = SERVICE_WIN32_OWN_PROCESS | (interactive_ ? SERVICE_INTERACTIVE_PROCESS : 0);
    const ServiceManagerHandle service(::CreateServiceW(
        manager.Get(), kServiceName, Widen(kDisplayName).c_str(),
        SERVICE_QUERY_STATUS | SERVICE_CHANGE_CONFIG | SERVICE_START, type, SERVICE_AUTO_START,
        SERVICE_ERROR_NORMAL, imagePath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        ReportCommandFailure(eventLog_, "-install", ::GetLastError(), "CreateService");
        return false;
    }
    RegisterEventSource(executable);
    // The service is registered and runs without them: a refusal is worth a warning only.
    if (!SetFailureActions(service.Get())) {
        WarnConfiguration("the restart after a failure");
    }
    if (!SetFailureActionsOnError(service.Get())) {
        WarnConfiguration("the restart after a stop with an error");
    }
    if (!SetPreshutdownTimeout(service.Get())) {
        WarnConfiguration("the time for its stop before the system shuts down");
    }
    if (!SetDescription(service.Get())) {
        WarnConfiguration("the description");
    }
    return true;
}

void WindowsServiceHost::WarnConfiguration(std::string_view what) {
    const DWORD error = ::GetLastError();
    eventLog_.Write(kEventKindWarning, kEventErrorReport,
                    "-install registered the service without " + std::string(what) + ": " +
                        ErrorReportText(SystemFailure(error, "ChangeServiceConfig2")));
}

void WindowsServiceHost::RenewPreshutdownTimeout() {
    // A registration of an older version, or one an installer made itself, lacks it.
    const ServiceManagerHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const ServiceManagerHandle service(
        manager ? ::OpenServiceW(manager.Get(), kServiceName, SERVICE_CHANGE_CONFIG) : nullptr);
    if (service && SetPreshutdownTimeout(service.Get())) {
        return;
    }
    const DWORD error = ::GetLastError();
    window_.Post([this, error] {
        eventLog_.Write(kEventKindWarning, kEventErrorReport,
                        "the service runs without its time to stop before the system shuts "
                        "down: " +
                            ErrorReportText(SystemFailure(error, "ChangeServiceConfig2")));
    });
}

void WindowsServiceHost::WriteEvent(std::int16_t kind, std::int32_t id, const std::string& text) {
    if (!eventLog_.Write(EventType(kind, id), id, text)) {
        RaiseLastError("ReportEvent");
    }
}

bool WindowsServiceHost::Unregister() {
    const bool deleted = DeleteRegisteredService(eventLog_);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey);
    return deleted;
}

void WindowsServiceHost::RequestStop() {
    if (!managed_.load()) {
        window_.Post([this] { RaiseStop(); });
        return;
    }
    const ServiceManagerHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        RaiseLastError("OpenSCManager");
    }
    const ServiceManagerHandle service(::OpenServiceW(manager.Get(), kServiceName, SERVICE_STOP));
    if (!service) {
        RaiseLastError("OpenService");
    }
    SERVICE_STATUS status{};
    if (!::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
        RaiseLastError("ControlService");
    }
}

void WindowsServiceHost::Connect() {
    if (dispatcher_) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        machine_.AcceptControls(acceptedControls_);
    }
    // ServiceMain gets no context of its own: there is one host per process.
    instance_.store(this);
    dispatcher_.Reset(
        ::CreateThread(nullptr, 0, &WindowsServiceHost::DispatcherThread, this, 0, nullptr));
    if (!dispatcher_) {
        RaiseLastError("CreateThread");
    }
}

void WindowsServiceHost::SaveParameter(const std::string& section, const std::string& key,
                                       const std::string& value) {
    const RegistryKey parameters =
        CreateKey(std::wstring(kServiceKey) + L"\\" + Widen(section), "SaveParameter");
    SetStringValue(parameters.Get(), Widen(key).c_str(), REG_SZ, Widen(value), "SaveParameter");
}

void WindowsServiceHost::StopPending(std::uint32_t milliseconds) noexcept {
    const std::lock_guard<std::mutex> lock(statusMutex_);
    stopWaitHint_ = milliseconds;
    if (machine_.State() == ScmState::StopPending) {
        ReportStatus();
    }
}

void WindowsServiceHost::ProcessEnding(int exitCode) {
    const std::lock_guard<std::mutex> lock(statusMutex_);
    if (statusHandle_ == nullptr || machine_.State() == ScmState::Stopped) {
        return;
    }
    if (exitCode != 0) {
        exitCode_ = ERROR_SERVICE_SPECIFIC_ERROR;
        specificExitCode_ = static_cast<DWORD>(exitCode);
    }
    machine_.Stopped();
    ReportStatus();
}

DWORD WINAPI WindowsServiceHost::DispatcherThread(LPVOID self) {
    static_cast<WindowsServiceHost*>(self)->RunDispatcher();
    return 0;
}

void WindowsServiceHost::RunDispatcher() {
    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<LPWSTR>(kServiceName), &WindowsServiceHost::ServiceMain},
        {nullptr, nullptr},
    };
    if (::StartServiceCtrlDispatcherW(table)) {
        return;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
        // Not started by the manager: the form starts on its own, once its load is done.
        window_.Post([this] { RaiseStart(); });
        return;
    }
    window_.Post([this, error] {
        eventLog_.Write(kEventKindError, kEventErrorReport,
                        ErrorReportText(SystemFailure(error, "StartServiceCtrlDispatcher")));
    });
}

void WINAPI WindowsServiceHost::ServiceMain(DWORD, LPWSTR*) {
    WindowsServiceHost* self = instance_.load();
    if (self != nullptr) {
        self->ServiceStarting();
    }
}

void WindowsServiceHost::ServiceStarting() {
    SERVICE_STATUS_HANDLE handle =
        ::RegisterServiceCtrlHandlerExW(kServiceName, &WindowsServiceHost::ControlHandler, this);
    if (handle == nullptr) {
        const DWORD error = ::GetLastError();
        window_.Post([this, error] {
            eventLog_.Write(kEventKindError, kEventErrorReport,
                            ErrorReportText(SystemFailure(error, "RegisterServiceCtrlHandlerEx")));
        });
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        statusHandle_ = handle;
        machine_.Starting();
        ReportStatus();
    }
    managed_.store(true);
    RenewPreshutdownTimeout();
    window_.Post([this] { RaiseStart(); });
}

DWORD WINAPI WindowsServiceHost::ControlHandler(DWORD control, DWORD, LPVOID, LPVOID self) {
    return static_cast<WindowsServiceHost*>(self)->HandleControl(control);
}

DWORD WindowsServiceHost::HandleControl(DWORD control) {
    ControlOutcome outcome;
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        outcome = machine_.Control(control);
        if (outcome.stateChanged) {
            ReportStatus();
        }
    }
    switch (outcome.event) {
    case HostEvent::Stop:
        window_.Post([this] { RaiseStop(); });
        break;
    case HostEvent::Pause:
        window_.Post([this] { RaisePause(); });
        break;
    case HostEvent::Continue:
        window_.Post([this] { RaiseContinue(); });
        break;
    case HostEvent::Control: {
        const auto code = static_cast<std::int32_t>(control);
        window_.Post([this, code] { RaiseControl(code); });
        break;
    }
    case HostEvent::None:
        break;
    }
    return outcome.result;
}

void WindowsServiceHost::RaiseStart() {
    HostFlag success = kHostFalse;
    if (events_ != nullptr) {
        events_->OnStart(success);
    }
    if (!managed_.load()) {
        return;
    }
    bool failed = false;
    {
        const std::lock_guard<std::mutex> lock(statusMutex_);
        machine_.StartFinished(success != kHostFalse);
        failed = machine_.State() == ScmState::Stopped;
        if (failed) {
            exitCode_ = ERROR_SERVICE_SPECIFIC_ERROR;
            specificExitCode_ = 1;
        }
        ReportStatus();
    }
    if (failed) {
        // The manager has been told that the service did not start: no process may stay.
        window_.Close(1);
    }
}

void WindowsServiceHost::RaiseStop() {
    if (events_ != nullptr) {
        events_->OnStop();
    }
}

void WindowsServiceHost::RaisePause() {
    HostFlag success = kHostFalse;
    if (events_ != nullptr) {
        events_->OnPause(success);
    }
    const std::lock_guard<std::mutex> lock(statusMutex_);
    machine_.PauseFinished(success != kHostFalse);
    ReportStatus();
}

void WindowsServiceHost::RaiseContinue() {
    HostFlag success = kHostFalse;
    if (events_ != nullptr) {
        events_->OnContinue(success);
    }
    const std::lock_guard<std::mutex> lock(statusMutex_);
    machine_.ContinueFinished(success != kHostFalse);
    ReportStatus();
}

void WindowsServiceHost::RaiseControl(std::int32_t code) {
    if (events_ != nullptr) {
        events_->OnControl(code);
    }
}

void WindowsServiceHost::ReportStatus() {
    if (statusHandle_ == nullptr) {
        return;
    }
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = static_cast<DWORD>(machine_.State());
    status.dwControlsAccepted = machine_.ControlsAccepted();
    status.dwWin32ExitCode = exitCode_;
    status.dwServiceSpecificExitCode = specificExitCode_;
    if (machine_.Pending()) {
        status.dwCheckPoint = ++checkPoint_;
        status.dwWaitHint = machine_.State() == ScmState::StopPending ? stopWaitHint_ : kWaitHint;
    } else {
        checkPoint_ = 0;
    }
    ::SetServiceStatus(statusHandle_, &status);
}

} // namespace ostrivan::windows
