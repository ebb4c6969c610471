#include "idle_service.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const kSuite[] = {"o-alerts.exe", "o-graphs.exe", "vantorelle_snmptrap.exe",
                              "vantorelle_manager.exe", "vantorelle_watcher.exe"};

std::optional<std::uint64_t> StatusField(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(field + ":")) {
            return std::stoull(line.substr(field.size() + 1));
        }
    }
    return std::nullopt;
}

// Every time the loop went to sleep and was woken again.
std::uint64_t WakeUps(pid_t pid) {
    return StatusField(pid, "voluntary_ctxt_switches").value_or(0);
}

std::vector<pid_t> ProcessesUnder(const std::string& folder) {
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::error_code error;
        const auto exe = fs::read_symlink(entry.path() / "exe", error);
        if (!error && exe.string().starts_with(folder + "/")) {
            found.push_back(std::stoi(name));
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
                                             "OSTRIVAN_UNIT_DIR=" + folder + "/units"};
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
    }

    pid_t Pid() const { return pid_; }

    // Up once every program of the suite runs, and a moment more for the start to settle.
    bool WaitUntilSuiteRuns() const {
        const bool up = WaitFor([&] { return ProcessesUnder(folder_).size() >= 6; }, 20s);
        std::this_thread::sleep_for(1s);
        return up;
    }

private:
    std::string folder_;
    pid_t pid_ = 0;
};

std::string PrepareFolder(const std::string& service, const std::string& idle) {
    char pattern[] = "/tmp/o-bench-service-XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    fs::create_directory(folder + "/units");
    fs::copy_file(service, folder + "/o-service");
    for (const char* name : kSuite) {
        fs::copy_file(idle, folder + "/" + name);
    }
    return folder;
}

} // namespace

IdleServiceFigures MeasureIdleService(const std::string& service, const std::string& idle,
                                      const std::string& faketime, std::uint64_t sweeps) {
    IdleServiceFigures figures;
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    const std::string folder = PrepareFolder(service, idle);
    {
        // Real time: the first tick comes a minute after the start, so a window of some
        // seconds after the start holds no tick, and any wake-up in it is one too many.
        ServiceRun run(folder, faketime, 1);
        if (run.Pid() == 0 || !run.WaitUntilSuiteRuns()) {
            figures.problem = "the service did not start its suite";
            fs::remove_all(folder);
            return figures;
        }
        figures.residentAfterStart = StatusField(run.Pid(), "VmRSS").value_or(0) * 1024;
        figures.threads = static_cast<int>(StatusField(run.Pid(), "Threads").value_or(0));
        const std::uint64_t before = WakeUps(run.Pid());
        figures.windowSeconds = 10;
        std::this_thread::sleep_for(10s);
        figures.wakeUpsBetweenTicks = WakeUps(run.Pid()) - before;
    }
    {
        // 6000 times faster: a tick every 10 ms. With nothing else to wake the loop, each
        // wake-up is one tick, so the wake-ups count the sweeps.
        ServiceRun run(folder, faketime, 6000);
        if (run.Pid() == 0 || !run.WaitUntilSuiteRuns()) {
            figures.problem = "the accelerated service did not start its suite";
            fs::remove_all(folder);
            return figures;
        }
        figures.residentBeforeSweeps = StatusField(run.Pid(), "VmRSS").value_or(0) * 1024;
        const std::uint64_t start = WakeUps(run.Pid());
        WaitFor([&] { return WakeUps(run.Pid()) - start >= sweeps; }, 120s);
        figures.sweepsCounted = WakeUps(run.Pid()) - start;
        figures.residentAfterSweeps = StatusField(run.Pid(), "VmRSS").value_or(0) * 1024;
    }
    fs::remove_all(folder);
    figures.valid = true;
    return figures;
}
