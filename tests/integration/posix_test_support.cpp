#include "posix_test_support.h"

#include "platform/posix/event_loop.h"
#include "platform/posix/spawn.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace ostrivan::posix::testing {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrivan-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

Child::Child(const TempDir& folder, const std::string& name, std::vector<std::string> arguments) {
    const std::string copy = folder.Path() + "/" + name;
    std::filesystem::copy_file(STANDIN_PATH, copy,
                               std::filesystem::copy_options::overwrite_existing);
    arguments.insert(arguments.begin(), copy);
    const Spawned spawned = SpawnDetached(copy, arguments);
    if (spawned.error != 0) {
        throw std::runtime_error("cannot start " + copy);
    }
    pid_ = spawned.pid;
}

Child::~Child() {
    if (reaped_) {
        return;
    }
    int status = 0;
    const pid_t waited = ::waitpid(pid_, &status, WNOHANG);
    if (waited == 0) {
        ::kill(pid_, SIGKILL);
        WaitForEnd(pid_);
    }
}

int Child::Reap() {
    const int status = WaitForEnd(pid_).value(); // throws when it did not end
    reaped_ = true;
    return status;
}

std::optional<int> WaitForEnd(pid_t pid, std::chrono::milliseconds deadline) {
    int status = 0;
    const bool ended =
        Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, deadline);
    return ended ? std::optional(status) : std::nullopt;
}

IntervalTimer QuitAfter(EventLoop& loop, std::chrono::milliseconds deadline) {
    IntervalTimer timer;
    timer.Start(static_cast<std::uint32_t>(deadline.count()));
    loop.Watch(timer.Fd(), [&loop] { loop.Quit(124); });
    return timer;
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void DrainLoopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : EventLoop::Signals()) {
        sigaddset(&set, signal);
    }
    const timespec now{0, 0};
    while (::sigtimedwait(&set, nullptr, &now) > 0) {
    }
}

int OpenDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

} // namespace ostrivan::posix::testing
