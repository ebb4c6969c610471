#pragma once

#include "call_log.h"
#include "fake_process_api.h"
#include "fault_plan.h"

#include "platform/form_runtime.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ostrivan::fakes {

// A moment on the wall clock, in UTC.
struct WallTime {
    int year, month, day, hour, minute, second, millisecond;
};

struct MessageBoxCall {
    std::string text;
    std::int32_t style = 0;
    std::optional<std::string> title; // nothing = the application's default title
    std::int32_t answer = 0;
};

struct LaunchCall {
    std::string programPath;
    std::string commandLine;
    std::int32_t windowStyle = 0;
    ProcessId id = 0; // 0 when the program could not be started
};

// The number and text the runtime raises for a program that is not there.
inline constexpr std::int32_t kFileNotFound = 53;
inline constexpr const char* kFileNotFoundText = "File not found";

// The windowing runtime, simulated: status line, timer, message boxes with scripted
// answers, a folder of launchable programs whose launches join the process table,
// a virtual local clock, and the end and unload of the form.
class FakeRuntime : public FormRuntime {
public:
    FakeRuntime(CallLog& log, FakeProcessApi& processes);

    // The form whose OnQueryUnload and OnTimer this runtime raises.
    void WireForm(FormEvents& form) { form_ = &form; }

    // --- settings
    void SetArguments(std::string arguments) { arguments_ = std::move(arguments); }
    void SetFolder(std::string folder) { folder_ = std::move(folder); }
    const std::string& Folder() const { return folder_; }
    // Makes `fileName` launchable from the folder.
    void AddProgram(const std::string& fileName) { programs_.insert(fileName); }
    void RemoveProgram(const std::string& fileName) { programs_.erase(fileName); }
    // The full path a program of the folder is launched by.
    std::string PathOf(const std::string& fileName) const { return folder_ + "\\" + fileName; }
    // Answers for the next message boxes, in order. Without one, a box answers OK, or No
    // when it asks Yes/No.
    void AnswerNextBox(std::int32_t answer) { answers_.push_back(answer); }
    FaultPlan& Faults() { return faults_; }

    // --- the virtual clocks: the wall clock in UTC and the monotonic clock
    void SetNow(const WallTime& now);
    // Time passes: every clock moves on by `by`, which may not be negative.
    void Advance(std::chrono::milliseconds by);
    // The wall clock is set back or forth; the monotonic clock stays.
    void SetWallClockBy(std::chrono::milliseconds by) { utc_ += by; }
    std::int64_t UtcMilliseconds() const { return utc_.time_since_epoch().count(); }

    // --- events the platform's loop would raise
    // Fires the timer when it is enabled; true when OnTimer ran.
    bool FireTimer();
    // The user closes the window: raises OnQueryUnload; true when the form was unloaded.
    bool CloseWindow();

    // --- what the logic did
    const std::string& StatusText() const { return statusTexts_.back(); }
    const std::vector<std::string>& StatusTexts() const { return statusTexts_; }
    std::uint32_t TimerInterval() const { return timerInterval_; }
    bool TimerEnabled() const { return timerEnabled_; }
    const std::vector<MessageBoxCall>& MessageBoxes() const { return boxes_; }
    const std::vector<LaunchCall>& Launches() const { return launches_; }
    std::optional<int> EndedWith() const { return endCode_; }
    int UnloadRequests() const { return unloadRequests_; }
    bool Unloaded() const { return unloaded_; }
    int Calls(const std::string& call) const { return faults_.Calls(call); }

    // --- FormRuntime
    void SetStatusText(const std::string& text) override;
    void SetTimerInterval(std::uint32_t milliseconds) override;
    void SetTimerEnabled(bool enabled) override;
    std::int32_t ShowMessageBox(const std::string& text, std::int32_t style,
                                const std::optional<std::string>& title) override;
    ProcessIdentity LaunchProgram(const std::string& programPath, const std::string& commandLine,
                                  std::int32_t windowStyle) override;
    std::string ApplicationFolder() override;
    std::string CommandLineArguments() override;
    void End(int exitCode) override;
    void UnloadForm() override;
    std::int64_t UtcNow() override;
    std::int64_t MonotonicNow() override;

private:
    void Enter(const std::string& call, const std::string& entry);
    bool QueryUnload();

    CallLog& log_;
    FakeProcessApi& processes_;
    FaultPlan faults_;
    FormEvents* form_ = nullptr;

    std::string arguments_;
    std::string folder_ = "C:\\Program Files\\Ostrivan";
    std::set<std::string> programs_;
    std::deque<std::int32_t> answers_;
    std::chrono::sys_time<std::chrono::milliseconds> utc_{
        std::chrono::sys_days{std::chrono::year{2024} / 3 / 14} + std::chrono::hours{10}};
    std::chrono::milliseconds monotonic_{5'000'000};

    // Label1 shows nothing until the form sets it.
    std::vector<std::string> statusTexts_{""};
    // The form's stored settings: the timer runs from its creation.
    std::uint32_t timerInterval_ = 60000;
    bool timerEnabled_ = true;
    std::vector<MessageBoxCall> boxes_;
    std::vector<LaunchCall> launches_;
    std::optional<int> endCode_;
    int unloadRequests_ = 0;
    bool unloaded_ = false;
};

} // namespace ostrivan::fakes
