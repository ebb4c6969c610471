#pragma once

#include "platform/posix/event_loop.h"
#include "platform/posix/interval_timer.h"

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ostrivan::posix::testing {

// A folder of its own, removed with everything in it on the way out.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A stand-in started as `name` from a copy in `folder`; killed and reaped on the way out,
// unless it was reaped before.
class Child {
public:
    Child(const TempDir& folder, const std::string& name, std::vector<std::string> arguments = {});
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();

    pid_t Pid() const { return pid_; }
    // Waits for the end (30 s at most, else throws) and returns the wait status.
    int Reap();

private:
    pid_t pid_ = 0;
    bool reaped_ = false;
};

// Polls `condition` every few milliseconds until it holds or the deadline passes.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Reaps `pid` once it has ended: its wait status, or nothing if it outlives the deadline.
std::optional<int> WaitForEnd(pid_t pid,
                              std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Ends the Run of `loop` with 124 at the deadline, so that a test waiting for an event that
// never comes fails instead of hanging. Keep it as long as the loop.
[[nodiscard]] IntervalTimer
QuitAfter(EventLoop& loop, std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Takes every pending signal of the loop's set, so that one test's signal cannot reach the
// next test's loop.
void DrainLoopSignals();

int OpenDescriptorCount();

} // namespace ostrivan::posix::testing
