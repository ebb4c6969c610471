#include "platform/windows/windows_form_runtime.h"

#include "platform/windows/clocks.h"
#include "platform/windows/command_text.h"
#include "platform/windows/message_box_rules.h"
#include "platform/windows/windows_process_api.h"

namespace ostrivan::windows {
namespace {

bool VisibleWindowStation() {
    USEROBJECTFLAGS flags{};
    if (!::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags),
                                     nullptr)) {
        return false;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Since Windows Vista no one logs on to session 0, where services run.
bool InServicesSession() {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) {
        return false;
    }
    const DWORD major = LOBYTE(LOWORD(::GetVersion()));
    return session == 0 && major >= 6;
}

} // namespace

WindowsFormRuntime::WindowsFormRuntime(FormWindow& window, EventLog& eventLog)
    : window_(window), eventLog_(eventLog),
      interactive_(window.TopLevel() && VisibleWindowStation() && !InServicesSession()) {}

void WindowsFormRuntime::Attach(FormEvents& events) {
    events_ = &events;
    window_.OnTimer([this] { events_->OnTimer(); });
    window_.OnClose([this] { UnloadForm(); });
}

void WindowsFormRuntime::SetStatusText(const std::string& text) {
    window_.SetLabel(Widen(text));
}

void WindowsFormRuntime::SetTimerInterval(std::uint32_t milliseconds) {
    window_.SetTimerInterval(milliseconds);
}

void WindowsFormRuntime::SetTimerEnabled(bool enabled) {
    window_.SetTimerEnabled(enabled);
}

std::int32_t WindowsFormRuntime::ShowMessageBox(const std::string& text, std::int32_t style,
                                                const std::optional<std::string>& title) {
    const std::string caption = title.value_or(kDefaultTitle);
    if (interactive_) {
        const int answer =
            ::MessageBoxW(window_.Window(), Widen(text).c_str(), Widen(caption).c_str(),
                          static_cast<UINT>(style) | MB_SETFOREGROUND);
        if (answer > 0) {
            return answer;
        }
    }
    // A box no one can see would hold the service for ever: the log keeps what it said.
    const std::int32_t answer = DefaultAnswer(style);
    eventLog_.Write(kEventKindWarning, kEventUnseenMessageBox,
                    UnseenBoxReport(caption, text, answer));
    return answer;
}

ProcessIdentity WindowsFormRuntime::LaunchProgram(const std::string& programPath,
                                                  const std::string& commandLine,
                                                  std::int32_t windowStyle) {
    const std::wstring program = Widen(programPath);
    // CreateProcess may write into the command line it is given.
    std::wstring arguments = Widen(commandLine);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(windowStyle);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(program.c_str(), arguments.data(), nullptr, nullptr, FALSE,
                          CREATE_SUSPENDED, nullptr, nullptr, &startup, &started)) {
        throw SystemFailure(::GetLastError(), programPath);
    }
    const KernelHandle process(started.hProcess);
    const KernelHandle thread(started.hThread);
    // Read while our handle still keeps the id from being handed on.
    ProcessIdentity launched{started.dwProcessId, 0};
    CreationTimeOf(started.hProcess, launched.creationTime);
    ContainLaunched(process.Get(), programPath);
    if (::ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
        const DWORD error = ::GetLastError();
        ::TerminateProcess(process.Get(), error);
        throw SystemFailure(error, programPath);
    }
    return launched;
}

void WindowsFormRuntime::ContainLaunched(HANDLE process, const std::string& programPath) {
    if (job_.Contain(process)) {
        return;
    }
    // The program still runs; the log says that it would outlive a service that dies.
    eventLog_.Write(kEventKindWarning, kEventOutsideJob,
                    ErrorReportText(SystemFailure(::GetLastError(), programPath)) +
                        ": launched outside the service's job, it will not end with the service");
}

std::string WindowsFormRuntime::ApplicationFolder() {
    return Narrow(FolderOf(ExecutablePath()));
}

std::string WindowsFormRuntime::CommandLineArguments() {
    return Narrow(ArgumentText(::GetCommandLineW()));
}

void WindowsFormRuntime::End(int exitCode) {
    if (processEnd_) {
        processEnd_(exitCode);
    }
    ::ExitProcess(static_cast<UINT>(exitCode));
}

void WindowsFormRuntime::UnloadForm() {
    std::int16_t cancel = 0;
    if (events_ != nullptr) {
        events_->OnQueryUnload(cancel);
    }
    if (cancel == 0) {
        window_.Close(0);
    }
}

std::int64_t WindowsFormRuntime::UtcNow() {
    return UtcMilliseconds();
}

std::int64_t WindowsFormRuntime::MonotonicNow() {
    // Counts time asleep too, and no one can set it.
    return static_cast<std::int64_t>(::GetTickCount64());
}

} // namespace ostrivan::windows
