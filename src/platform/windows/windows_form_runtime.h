#pragma once

#include "platform/form_runtime.h"
#include "platform/windows/event_log.h"
#include "platform/windows/form_window.h"
#include "platform/windows/launch_job.h"

#include <functional>

namespace ostrivan::windows {

// The form's runtime on Windows: the status label and timer of the form's window, message
// boxes on an interactive desktop (logged and answered with their default where no one can
// see them), programs started with CreateProcess inside the service's job.
class WindowsFormRuntime final : public FormRuntime {
public:
    // The title of a message box that names none.
    static constexpr const char* kDefaultTitle = "o-service";

    WindowsFormRuntime(FormWindow& window, EventLog& eventLog);

    // Timer ticks and the window's close request go to `events` from here on.
    void Attach(FormEvents& events);
    // Called with the exit code just before End ends the process.
    void OnProcessEnd(std::function<void(int)> hook) { processEnd_ = std::move(hook); }

    void SetStatusText(const std::string& text) override;
    void SetTimerInterval(std::uint32_t milliseconds) override;
    void SetTimerEnabled(bool enabled) override;
    std::int32_t ShowMessageBox(const std::string& text, std::int32_t style,
                                const std::optional<std::string>& title) override;
    ProcessIdentity LaunchProgram(const std::string& programPath, const std::string& commandLine,
                                  std::int32_t windowStyle) override;
    std::string ApplicationFolder() override;
    std::string CommandLineArguments() override;
    [[noreturn]] void End(int exitCode) override;
    void UnloadForm() override;
    std::int64_t UtcNow() override;
    std::int64_t MonotonicNow() override;

    // True when a message box can be seen by someone: a visible window station outside
    // the services' session, and a desktop that took the form's window.
    bool InteractiveDesktop() const { return interactive_; }

private:
    // Puts a suspended program in the job; one warning in the log when it cannot.
    void ContainLaunched(HANDLE process, const std::string& programPath);

    FormWindow& window_;
    EventLog& eventLog_;
    FormEvents* events_ = nullptr;
    std::function<void(int)> processEnd_;
    bool interactive_;
    LaunchJob job_;
};

} // namespace ostrivan::windows
