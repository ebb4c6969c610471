#pragma once

#include "platform/form_runtime.h"
#include "platform/posix/console.h"
#include "platform/posix/event_loop.h"
#include "platform/posix/interval_timer.h"
#include "platform/posix/systemd_notifier.h"

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <map>
#include <string>

namespace ostrivan::posix {

// The form's runtime on Linux: the status line goes to the console (and to systemd), the
// timer is a timerfd read by the loop, message boxes are asked on the terminal or logged and
// answered with their default, SIGINT and SIGHUP close the window. systemd's watchdog hears
// from the loop itself, at half its time, paused or not: a keep-alive waits its turn behind
// a running handler, so a sweep that hangs silences them and the watchdog ends the service.
class PosixFormRuntime final : public FormRuntime {
public:
    // The title a message box shows when it names none.
    static constexpr const char* kDefaultTitle = "o-service";

    // The timer runs from here on with the form's stored interval, as the form's timer
    // runs from the creation of the form.
    PosixFormRuntime(EventLoop& loop, Console& console, SystemdNotifier& notifier,
                     std::string applicationFolder, std::string arguments,
                     std::uint32_t timerInterval, bool timerEnabled);

    void Attach(FormEvents& events) { events_ = &events; }
    // False when the timer could not be made.
    bool TimerValid() const { return timer_.Valid(); }

    void SetStatusText(const std::string& text) override;
    void SetTimerInterval(std::uint32_t milliseconds) override;
    void SetTimerEnabled(bool enabled) override;
    std::int32_t ShowMessageBox(const std::string& text, std::int32_t style,
                                const std::optional<std::string>& title) override;
    // The window style has no meaning here: every program is started on its own.
    ProcessIdentity LaunchProgram(const std::string& programPath, const std::string& commandLine,
                                  std::int32_t windowStyle) override;
    std::optional<ProgramEnd> EndOfLaunched(const ProcessIdentity& program) override;
    std::string ApplicationFolder() override { return applicationFolder_; }
    std::string CommandLineArguments() override { return arguments_; }
    [[noreturn]] void End(int exitCode) override;
    void UnloadForm() override;
    std::int64_t UtcNow() override;
    std::int64_t MonotonicNow() override;

private:
    void Tick();
    void KeepAliveTick();
    void ChildEnded(pid_t pid, int waitStatus);

    EventLoop& loop_;
    Console& console_;
    SystemdNotifier& notifier_;
    IntervalTimer timer_;
    // Armed only with a watchdog: without one the idle service wakes up for its sweeps only.
    IntervalTimer keepAlive_;
    std::uint32_t interval_;
    bool enabled_;
    std::string applicationFolder_;
    std::string arguments_;
    FormEvents* events_ = nullptr;
    struct Launched {
        std::string name;
        ProcessIdentity identity;
    };
    // The running programs this process launched, for the log of their end.
    std::map<pid_t, Launched> launched_;
    // How the last of them ended, as reaped; the oldest go first.
    std::deque<std::pair<ProcessIdentity, ProgramEnd>> ended_;
};

} // namespace ostrivan::posix
