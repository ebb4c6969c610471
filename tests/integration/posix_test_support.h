#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
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
    // Waits for the end and returns the wait status.
    int Reap();

private:
    pid_t pid_ = 0;
    bool reaped_ = false;
};

// Polls `condition` every few milliseconds until it holds or the deadline passes.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Takes every pending signal of the loop's set, so that one test's signal cannot reach the
// next test's loop.
void DrainLoopSignals();

int OpenDescriptorCount();

} // namespace ostrivan::posix::testing
