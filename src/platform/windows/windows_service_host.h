#pragma once

#include "platform/service_host.h"
#include "platform/stop_timing.h"
#include "platform/windows/event_log.h"
#include "platform/windows/form_window.h"
#include "platform/windows/service_status_machine.h"
#include "platform/windows/win32.h"

#include <atomic>
#include <mutex>

namespace ostrivan::windows {

// The service host on the service control manager's own API. The control dispatcher runs
// on a thread of its own; every control it receives is carried to the form's thread and
// raised there, and the state the manager sees follows what the handlers answered.
// A process the manager did not start runs standalone: its start is raised through the
// form's loop, and a stop request stops it directly.
class WindowsServiceHost final : public ServiceHost {
public:
    static constexpr const wchar_t* kServiceName = L"Ostrivan";
    static constexpr const char* kDisplayName = "Ostrivan Monitoring Service";
    static constexpr const wchar_t* kServiceKey = L"SYSTEM\\CurrentControlSet\\Services\\Ostrivan";
    static constexpr const wchar_t* kEventSourceKey =
        L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Ostrivan";

    WindowsServiceHost(FormWindow& window, EventLog& eventLog);
    ~WindowsServiceHost() override;
    WindowsServiceHost(const WindowsServiceHost&) = delete;
    WindowsServiceHost& operator=(const WindowsServiceHost&) = delete;

    void Attach(ServiceHostEvents& events) { events_ = &events; }
    // The process is about to end with `exitCode`: the manager learns that the service
    // has stopped.
    void ProcessEnding(int exitCode);

    void AcceptedControls(std::int32_t controls) override { acceptedControls_ = controls; }
    std::string ServiceTitle() override { return kDisplayName; }
    void RegistrationOption(bool interactive) override { interactive_ = interactive; }
    bool Register() override;
    void WriteEvent(std::int16_t kind, std::int32_t id, const std::string& text) override;
    bool Unregister() override;
    void RequestStop() override;
    void Connect() override;
    void SaveParameter(const std::string& section, const std::string& key,
                       const std::string& value) override;
    // A new checkpoint with this wait hint: the manager sees the stop advance.
    void StopPending(std::uint32_t milliseconds) noexcept override;

private:
    static DWORD WINAPI DispatcherThread(LPVOID self);
    static void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
    static DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, LPVOID eventData,
                                       LPVOID self);

    // One warning in the log for a part of the registration the manager refused.
    void WarnConfiguration(std::string_view what);
    // Sets the pre-shutdown timeout again at every start; a refusal is warned of.
    void RenewPreshutdownTimeout();
    void RunDispatcher();
    void ServiceStarting();
    DWORD HandleControl(DWORD control);

    void RaiseStart();
    void RaiseStop();
    void RaisePause();
    void RaiseContinue();
    void RaiseControl(std::int32_t code);

    // With statusMutex_ held.
    void ReportStatus();

    static std::atomic<WindowsServiceHost*> instance_;

    FormWindow& window_;
    EventLog& eventLog_;
    ServiceHostEvents* events_ = nullptr;
    std::int32_t acceptedControls_ = 0;
    bool interactive_ = false;
    KernelHandle dispatcher_;
    // True once the manager started this process as the service.
    std::atomic<bool> managed_{false};

    std::mutex statusMutex_;
    ServiceStatusMachine machine_;
    SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
    DWORD checkPoint_ = 0;
    // What the stop may still take; the whole stop until the form says otherwise.
    DWORD stopWaitHint_ = kLongestStopMs;
    DWORD exitCode_ = NO_ERROR;
    DWORD specificExitCode_ = 0;
};

} // namespace ostrivan::windows
