#pragma once

#include "platform/process_api.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ostrivan {

namespace box {
inline constexpr std::int32_t kOkOnly = 0;
inline constexpr std::int32_t kYesNo = 4;
inline constexpr std::int32_t kQuestion = 32;
inline constexpr std::int32_t kExclamation = 48;
inline constexpr std::int32_t kAnswerOk = 1;
inline constexpr std::int32_t kAnswerYes = 6;
inline constexpr std::int32_t kAnswerNo = 7;
} // namespace box

// What the platform's loop raises on the form, on its one thread.
class FormEvents {
public:
    virtual ~FormEvents() = default;
    virtual void OnTimer() = 0;
    // The window is being closed; setting `cancel` to true keeps the form loaded.
    virtual void OnQueryUnload(std::int16_t& cancel) = 0;
};

// How a program that the runtime launched has ended, as the platform told it.
struct ProgramEnd {
    std::uint32_t exitCode = 0;
    std::string signal; // the signal that ended it ("SIGKILL"); empty when it exited
};

// The windowing runtime the form lives in.
class FormRuntime {
public:
    virtual ~FormRuntime() = default;

    // Label1.
    virtual void SetStatusText(const std::string& text) = 0;

    virtual void SetTimerInterval(std::uint32_t milliseconds) = 0;
    virtual void SetTimerEnabled(bool enabled) = 0;

    // Modal; returns the answer. No title means the application's default title.
    virtual std::int32_t ShowMessageBox(const std::string& text, std::int32_t style,
                                        const std::optional<std::string>& title) = 0;

    // Starts `programPath` with the full `commandLine` the child sees (which begins with
    // the quoted program path); returns the new process's identity at once, read from the
    // launch itself, before anything else could have been handed its id. Raises Failure
    // when the program cannot be started.
    virtual ProcessIdentity LaunchProgram(const std::string& programPath,
                                          const std::string& commandLine,
                                          std::int32_t windowStyle) = 0;

    // How `program`, launched here, ended, where the platform collected its end on its own
    // (and so no other process can read it any more); nothing otherwise, while it runs too.
    virtual std::optional<ProgramEnd> EndOfLaunched(const ProcessIdentity& program) {
        static_cast<void>(program);
        return std::nullopt;
    }

    // The folder of the running executable, without a trailing separator.
    virtual std::string ApplicationFolder() = 0;
    // Everything after the program name and the blanks that follow it.
    virtual std::string CommandLineArguments() = 0;

    // Ends the process at once, without any unload handling. The real platforms do not
    // return; a simulated one records the call and returns.
    virtual void End(int exitCode) = 0;
    // Unloads the form: raises OnQueryUnload and, unless cancelled, ends the process
    // once the running handler returns.
    virtual void UnloadForm() = 0;

    // Milliseconds since 1970-01-01 00:00 UTC on the wall clock: daylight saving leaves it
    // alone, but an administrator or a time service may set it.
    virtual std::int64_t UtcNow() = 0;
    // Milliseconds on a clock that nothing sets and that runs on while the machine sleeps;
    // its start is arbitrary.
    virtual std::int64_t MonotonicNow() = 0;
};

} // namespace ostrivan
