#include "idle_service.h"

#include "platform/posix/proc_reader.h"
#include "platform/posix/proc_text.h"
#include "supervisor/suite_programs.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr std::string_view kSuite[] = {ostrivan::suite::kAlerts, ostrivan::suite::kGraphs,
                                       ostrivan::suite::kTrapReceiver, ostrivan::suite::kManager,
                                       ostrivan::suite::kWatcher};

std::string Status(pid_t pid) {
    return ostrivan::posix::ReadSmallFile(ostrivan::posix::ProcPath(pid, "status")).value_or("");
}

std::uint64_t ResidentBytes(pid_t pid) {
    return ostrivan::posix::ParseStatusKilobytes(Status(pid), "VmRSS").value_or(0);
}

// A "Name:  123" line of /proc/PID/status, a count without a unit.
std::uint64_t StatusCount(pid_t pid, const std::string& name) {
    const std::string text = "\n" + Status(pid);
    const auto at = text.find("\n" + name + ":");
    return at == std::string::npos ? 0 : std::stoull(text.substr(at + name.size() + 2));
}

// Every time the loop went to sleep and was woken again.
std::uint64_t WakeUps(pid_t pid) {
    return StatusCount(pid, "voluntary_ctxt_switches");
}

std::vector<pid_t> ProcessesUnder(const std::string& folder) {
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const pid_t pid = std::stoi(name);
        const auto exe = ostrivan::posix::ReadLink(ostrivan::posix::ProcPath(pid, "exe"));
        if (exe && exe->starts_with(folder + "/")) {
            found.push_back(pid);
        }
    }
    return found;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class ServiceRun {
public:
    ServiceRun(const std::string& folder, const std::string& faketime, int speed)
        : folder_(folder) {
        std::vector<std::string> environment{"PATH=/usr/bin:/bin",
                                             "OSTRIVAN_UNIT_DIR=" + folder + "/units",
                                             "OSTRIVAN_LOCK_DIR=" + folder + "/lock"};
        if (speed > 1) {
            environment.push_back("LD_PRELOAD=" + faketime);
            environment.push_back("FAKETIME=+0 x" + std::to_string(speed));
        }
        std::vector<char*> envp;
        for (auto& word : environment) {
            envp.push_back(word.data());
        }
        envp.push_back(nullptr);
        std::string program = folder + "/o-service";
        char* argv[] = {program.data(), nullptr};
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        ::posix_spawn_file_actions_addopen(&actions, 2, (folder + "/log.txt").c_str(),
                                           O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) != 0) {
            pid_ = 0;
        }
        ::posix_spawn_file_actions_destroy(&actions);
    }
    ServiceRun(const ServiceRun&) = delete;
    ServiceRun& operator=(const ServiceRun&) = delete;

    // Asked to stop first, as systemd would; whatever is left of the folder's programs after
    // that is killed, and every child reaped (this program is their subreaper).
    ~ServiceRun() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            if (!WaitFor([&] { return ::kill(pid_, 0) != 0; }, 20s)) {
                ::kill(pid_, SIGKILL);
            }
        }
        WaitFor(
            [&] {
                const auto left = ProcessesUnder(folder_);
                for (const pid_t pid : left) {
                    ::kill(pid, SIGKILL);
                }
                return left.empty();
            },
            20s);
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        // What libfaketime left under the service's id; nothing else removes it.
        if (pid_ > 0) {
            std::error_code ignored;
            std::filesystem::remove("/dev/shm/faketime_shm_" + std::to_string(pid_), ignored);
            std::filesystem::remove("/dev/shm/sem.faketime_sem_" + std::to_string(pid_), ignored);
        }
    }

    pid_t Pid() const { return pid_; }

    // Up once the service and every program of the suite run, and a moment more for the
    // start to settle.
    bool SuiteRuns() const {
        const bool up =
            pid_ > 0 &&
            WaitFor([&] { return ProcessesUnder(folder_).size() >= std::size(kSuite) + 1; }, 20s);
        std::this_thread::sleep_for(1s);
        return up;
    }

private:
    std::string folder_;
    pid_t pid_ = 0;
};

// The service beside idle copies under the suite's names, removed on every way out.
class SuiteFolder {
public:
    SuiteFolder(const std::string& service, const std::string& idle) {
        char pattern[] = "/tmp/o-bench-service-XXXXXX";
        path_ = ::mkdtemp(pattern);
        fs::create_directory(path_ + "/units");
        fs::copy_file(service, path_ + "/o-service");
        for (const std::string_view name : kSuite) {
            fs::copy_file(idle, path_ + "/" + std::string(name));
        }
    }
    SuiteFolder(const SuiteFolder&) = delete;
    SuiteFolder& operator=(const SuiteFolder&) = delete;
    ~SuiteFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Real time: the first tick comes a minute after the start, so a window of some seconds
// after the start holds no tick, and any wake-up in it is one too many.
bool MeasureBetweenTicks(const SuiteFolder& folder, IdleServiceFigures& figures) {
    const ServiceRun run(folder.Path(), "", 1);
    if (!run.SuiteRuns()) {
        figures.problem = "the service did not start its suite";
        return false;
    }
    figures.residentAfterStart = ResidentBytes(run.Pid());
    figures.threads = static_cast<int>(StatusCount(run.Pid(), "Threads"));
    const std::uint64_t before = WakeUps(run.Pid());
    figures.windowSeconds = 10;
    std::this_thread::sleep_for(10s);
    figures.wakeUpsBetweenTicks = WakeUps(run.Pid()) - before;
    return true;
}

// 6000 times faster: a tick every 10 ms. With nothing else to wake the loop, each wake-up
// is one tick, so the wake-ups count the sweeps.
bool MeasureAcrossSweeps(const SuiteFolder& folder, const std::string& faketime,
                         std::uint64_t sweeps, IdleServiceFigures& figures) {
    const ServiceRun run(folder.Path(), faketime, 6000);
    if (!run.SuiteRuns()) {
        figures.problem = "the accelerated service did not start its suite";
        return false;
    }
    figures.residentBeforeSweeps = ResidentBytes(run.Pid());
    const std::uint64_t start = WakeUps(run.Pid());
    WaitFor([&] { return WakeUps(run.Pid()) - start >= sweeps; }, 120s);
    figures.sweepsCounted = WakeUps(run.Pid()) - start;
    figures.residentAfterSweeps = ResidentBytes(run.Pid());
    return true;
}

} // namespace

IdleServiceFigures MeasureIdleService(const std::string& service, const std::string& idle,
                                      const std::string& faketime, std::uint64_t sweeps) {
    IdleServiceFigures figures;
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const SuiteFolder folder(service, idle);
    figures.valid = MeasureBetweenTicks(folder, figures) &&
                    MeasureAcrossSweeps(folder, faketime, sweeps, figures);
    return figures;
}
