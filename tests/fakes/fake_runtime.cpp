#include "fake_runtime.h"

#include <stdexcept>

namespace ostrivan::fakes {
namespace {

using Clock = std::chrono::sys_time<std::chrono::milliseconds>;

Clock ToTimePoint(const WallTime& t) {
    using namespace std::chrono;
    const sys_days date =
        year{t.year} / month{static_cast<unsigned>(t.month)} / day{static_cast<unsigned>(t.day)};
    return date + hours{t.hour} + minutes{t.minute} + seconds{t.second} +
           milliseconds{t.millisecond};
}

std::string BaseName(const std::string& path) {
    const auto cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

} // namespace

FakeRuntime::FakeRuntime(CallLog& log, FakeProcessApi& processes)
    : log_(log), processes_(processes),
      faults_({"SetStatusText", "SetTimerInterval", "SetTimerEnabled", "ShowMessageBox",
               "LaunchProgram", "ApplicationFolder", "CommandLineArguments", "End", "UnloadForm",
               "UtcNow", "MonotonicNow"}) {
    processes_.UseClock([this](std::chrono::milliseconds by) { Advance(by); });
}

void FakeRuntime::Enter(const std::string& call, const std::string& entry) {
    log_.Add("runtime." + entry);
    if (faults_.Hit(call)) {
        throw FakeFailure(call);
    }
}

void FakeRuntime::SetNow(const WallTime& now) {
    utc_ = ToTimePoint(now);
}

void FakeRuntime::Advance(std::chrono::milliseconds by) {
    utc_ += by;
    monotonic_ += by;
    processes_.TimePassed(by);
}

bool FakeRuntime::FireTimer() {
    if (!timerEnabled_ || unloaded_ || endCode_) {
        return false;
    }
    if (form_ == nullptr) {
        throw std::logic_error("FireTimer without a wired form");
    }
    log_.Add("runtime.Timer");
    form_->OnTimer();
    return true;
}

bool FakeRuntime::CloseWindow() {
    log_.Add("runtime.CloseWindow");
    return QueryUnload();
}

bool FakeRuntime::QueryUnload() {
    if (form_ == nullptr) {
        throw std::logic_error("unload without a wired form");
    }
    ++unloadRequests_;
    std::int16_t cancel = 0;
    form_->OnQueryUnload(cancel);
    unloaded_ = cancel == 0;
    log_.Add(unloaded_ ? "runtime.Unloaded" : "runtime.UnloadCancelled");
    return unloaded_;
}

void FakeRuntime::SetStatusText(const std::string& text) {
    Enter("SetStatusText", "SetStatusText " + text);
    statusTexts_.push_back(text);
}

void FakeRuntime::SetTimerInterval(std::uint32_t milliseconds) {
    Enter("SetTimerInterval", "SetTimerInterval " + std::to_string(milliseconds));
    timerInterval_ = milliseconds;
}

void FakeRuntime::SetTimerEnabled(bool enabled) {
    Enter("SetTimerEnabled", std::string("SetTimerEnabled ") + (enabled ? "true" : "false"));
    timerEnabled_ = enabled;
}

std::int32_t FakeRuntime::ShowMessageBox(const std::string& text, std::int32_t style,
                                         const std::optional<std::string>& title) {
    Enter("ShowMessageBox", "ShowMessageBox " + text);
    std::int32_t answer = (style & box::kYesNo) == box::kYesNo ? box::kAnswerNo : box::kAnswerOk;
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    }
    boxes_.push_back(MessageBoxCall{text, style, title, answer});
    return answer;
}

ProcessIdentity FakeRuntime::LaunchProgram(const std::string& programPath,
                                           const std::string& commandLine,
                                           std::int32_t windowStyle) {
    launches_.push_back(LaunchCall{programPath, commandLine, windowStyle, 0});
    Enter("LaunchProgram", "LaunchProgram " + commandLine);
    const std::string name = BaseName(programPath);
    if (programPath != PathOf(name) || !programs_.contains(name)) {
        throw Failure(kFileNotFound, kFileNotFoundText);
    }
    FakeProcess process;
    process.imageName = name;
    const FakeProcess& started = processes_.Add(std::move(process));
    launches_.back().id = started.id;
    return ProcessIdentity{started.id, started.creationTime};
}

std::string FakeRuntime::ApplicationFolder() {
    Enter("ApplicationFolder", "ApplicationFolder");
    return folder_;
}

std::string FakeRuntime::CommandLineArguments() {
    Enter("CommandLineArguments", "CommandLineArguments");
    return arguments_;
}

void FakeRuntime::End(int exitCode) {
    Enter("End", "End " + std::to_string(exitCode));
    endCode_ = exitCode;
}

void FakeRuntime::UnloadForm() {
    Enter("UnloadForm", "UnloadForm");
    QueryUnload();
}

std::int64_t FakeRuntime::UtcNow() {
    Enter("UtcNow", "UtcNow");
    return utc_.time_since_epoch().count();
}

std::int64_t FakeRuntime::MonotonicNow() {
    Enter("MonotonicNow", "MonotonicNow");
    return monotonic_.count();
}

} // namespace ostrivan::fakes
