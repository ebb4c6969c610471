#include "platform/posix/posix_form_runtime.h"

#include "platform/failure.h"
#include "platform/posix/clocks.h"
#include "platform/posix/command_line.h"
#include "platform/posix/pidfd.h"
#include "platform/posix/proc_text.h"
#include "platform/posix/spawn.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ostrivan::posix {
namespace {

constexpr std::int32_t kButtonsMask = 0xF;

bool IsYes(const std::string& answer) {
    return answer == "y" || answer == "Y" || answer == "yes";
}
bool IsNo(const std::string& answer) {
    return answer == "n" || answer == "N" || answer == "no";
}

// More than the suite launches between two sweeps.
constexpr std::size_t kRememberedEnds = 16;

ProgramEnd EndOf(int waitStatus) {
    ProgramEnd end;
    if (WIFSIGNALED(waitStatus)) {
        const int signal = WTERMSIG(waitStatus);
        const char* name = ::sigabbrev_np(signal);
        end.signal = name != nullptr ? "SIG" + std::string(name) : std::to_string(signal);
    } else {
        end.exitCode = static_cast<std::uint32_t>(WEXITSTATUS(waitStatus));
    }
    return end;
}

std::string EndText(const ProgramEnd& end) {
    return end.signal.empty() ? "exit code " + std::to_string(end.exitCode)
                              : "signal " + end.signal;
}

// Children are reaped only by the loop, between handlers: until then no other process can
// be given this id, so the start time read here is the child's own.
ProcessIdentity IdentityOfChild(pid_t pid) {
    const UniqueFd pidfd = OpenPidfd(pid);
    const auto startTime = pidfd ? PidfdStartTime(pid, pidfd.Get()) : std::nullopt;
    // Without a start time no later check matches: the child reads as ended.
    return ProcessIdentity{static_cast<ProcessId>(pid), startTime.value_or(0)};
}

} // namespace

PosixFormRuntime::PosixFormRuntime(EventLoop& loop, Console& console, SystemdNotifier& notifier,
                                   std::string applicationFolder, std::string arguments,
                                   std::uint32_t timerInterval, bool timerEnabled)
    : loop_(loop), console_(console), notifier_(notifier), interval_(timerInterval),
      enabled_(timerEnabled), applicationFolder_(std::move(applicationFolder)),
      arguments_(std::move(arguments)) {
    timer_.Start(enabled_ ? interval_ : 0);
    loop_.Watch(timer_.Fd(), [this] { Tick(); });
    // Half the watchdog's time, as systemd advises.
    if (const std::uint32_t watchdog = notifier_.WatchdogMilliseconds(); watchdog != 0) {
        keepAlive_.Start(std::max<std::uint32_t>(watchdog / 2, 1));
        loop_.Watch(keepAlive_.Fd(), [this] { KeepAliveTick(); });
    }
    // Closing the window: the user's interrupt, or the terminal going away.
    loop_.OnSignal(SIGINT, [this] { UnloadForm(); });
    loop_.OnSignal(SIGHUP, [this] { UnloadForm(); });
    loop_.OnChildEnded([this](pid_t pid, int status) { ChildEnded(pid, status); });
}

void PosixFormRuntime::Tick() {
    // Ticks missed while a handler ran are taken as one.
    if (!timer_.Consume()) {
        return;
    }
    if (enabled_ && events_ != nullptr) {
        events_->OnTimer();
    }
}

void PosixFormRuntime::KeepAliveTick() {
    if (keepAlive_.Consume()) {
        notifier_.KeepAlive();
    }
}

void PosixFormRuntime::SetStatusText(const std::string& text) {
    console_.ShowStatus(text);
    notifier_.Send("STATUS=" + OneLine(text));
}

void PosixFormRuntime::SetTimerInterval(std::uint32_t milliseconds) {
    interval_ = milliseconds;
    if (enabled_) {
        timer_.Start(interval_);
    }
}

void PosixFormRuntime::SetTimerEnabled(bool enabled) {
    if (enabled == enabled_) {
        return;
    }
    enabled_ = enabled;
    // A full interval from now; while paused, no tick at all.
    timer_.Start(enabled_ ? interval_ : 0);
    if (enabled_) {
        // The service works again: the watchdog hears so at once, not half its time later.
        notifier_.KeepAlive();
    }
}

std::int32_t PosixFormRuntime::ShowMessageBox(const std::string& text, std::int32_t style,
                                              const std::optional<std::string>& title) {
    const std::string caption = title.value_or(kDefaultTitle);
    const bool yesNo = (style & kButtonsMask) == box::kYesNo;
    const std::int32_t fallback = yesNo ? box::kAnswerNo : box::kAnswerOk;
    const char* fallbackName = yesNo ? "No" : "OK";

    if (!console_.CanAsk()) {
        // Nobody can see the box: a daemon must not wait for an answer that never comes.
        console_.Log("message box \"" + caption + "\": " + text + " -> " + fallbackName +
                     " (no terminal to ask)");
        return fallback;
    }
    const std::string question =
        "\n[" + caption + "]\n" + text + "\n" + (yesNo ? "Yes or no? [y/n] " : "[Enter] ");
    for (;;) {
        const auto answer = console_.Ask(question);
        if (!answer) {
            console_.Log("message box \"" + caption + "\": input ended -> " + fallbackName);
            return fallback;
        }
        if (!yesNo) {
            return box::kAnswerOk;
        }
        if (IsYes(*answer)) {
            return box::kAnswerYes;
        }
        if (IsNo(*answer)) {
            return box::kAnswerNo;
        }
    }
}

ProcessIdentity PosixFormRuntime::LaunchProgram(const std::string& programPath,
                                                const std::string& commandLine, std::int32_t) {
    const std::string program = ToPosixPath(programPath);
    auto argv = SplitCommandLine(commandLine);
    if (argv.empty()) {
        argv.push_back(program);
    } else {
        argv[0] = ToPosixPath(argv[0]);
    }
    const Spawned spawned = SpawnDetached(program, argv);
    if (spawned.error != 0) {
        throw Failure(spawned.error, std::string(std::strerror(spawned.error)) + ": " + program);
    }
    const ProcessIdentity identity = IdentityOfChild(spawned.pid);
    launched_.insert_or_assign(spawned.pid, Launched{ImageBaseName(program), identity});
    return identity;
}

std::optional<ProgramEnd> PosixFormRuntime::EndOfLaunched(const ProcessIdentity& program) {
    for (const auto& [identity, end] : ended_) {
        if (identity == program) {
            return end;
        }
    }
    return std::nullopt;
}

void PosixFormRuntime::ChildEnded(pid_t pid, int waitStatus) {
    const ProgramEnd end = EndOf(waitStatus);
    std::string name = "child";
    if (const auto found = launched_.find(pid); found != launched_.end()) {
        name = found->second.name;
        ended_.emplace_back(found->second.identity, end);
        if (ended_.size() > kRememberedEnds) {
            ended_.pop_front();
        }
        launched_.erase(found);
    }
    console_.Log(name + " (pid " + std::to_string(pid) + ") ended, " + EndText(end));
}

void PosixFormRuntime::End(int exitCode) {
    console_.Finish();
    std::exit(exitCode);
}

void PosixFormRuntime::UnloadForm() {
    std::int16_t cancel = 0;
    if (events_ != nullptr) {
        events_->OnQueryUnload(cancel);
    }
    if (cancel == 0) {
        loop_.Quit(EXIT_SUCCESS);
    }
}

std::int64_t PosixFormRuntime::UtcNow() {
    return UtcMilliseconds();
}

std::int64_t PosixFormRuntime::MonotonicNow() {
    return BootMilliseconds();
}

} // namespace ostrivan::posix
