// Times the process-table walks of a sweep and a shutdown against the usual tools, on a table
// crowded with idle processes that all die with this program.
#include "idle_service.h"
#include "platform/posix/pidfd.h"
#include "platform/posix/posix_process_api.h"
#include "platform/posix/posix_status_platform.h"
#include "platform/posix/proc_reader.h"
#include "process/kill_app.h"
#include "process/process_snapshot.h"
#include "status/status_publisher.h"
#include "supervisor/supervisor.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<pid_t> gChildren;
std::vector<std::string> gPaths;

void KillAll() {
    for (const pid_t pid : gChildren) {
        ::kill(pid, SIGKILL);
    }
    for (const pid_t pid : gChildren) {
        ::waitpid(pid, nullptr, 0);
    }
    gChildren.clear();
    gPaths.clear();
}

void OnSignal(int) {
    for (const pid_t pid : gChildren) {
        ::kill(pid, SIGKILL);
    }
    ::_exit(2);
}

std::vector<std::string> Names() {
    std::vector<std::string> names{
        "o-alerts.exe",           "o-graphs.exe", "vantorelle_snmptrap.exe",
        "vantorelle_manager.exe", "rrdtool.exe",  "klaxo_msn.exe"};
    for (int i = 0; i < 12; ++i) {
        names.push_back("disk" + std::to_string(i) + "_check.exe");
    }
    for (int i = 0; i < 19; ++i) {
        names.push_back("worker" + std::to_string(i));
    }
    return names;
}

// Children die with this program even when it is killed outright.
pid_t StartOne(const std::string& path) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        ::execv(path.c_str(), argv);
        ::_exit(127);
    }
    if (pid < 0) {
        std::perror("fork");
        KillAll();
        std::exit(1);
    }
    return pid;
}

// Restarts every child that has ended and waits until each runs its program under its name,
// so that every sweep sees the same table. A child killed a moment ago may still be dying.
void Replenish() {
    for (std::size_t i = 0; i < gChildren.size(); ++i) {
        for (;;) {
            // Gone without a trace (ECHILD) counts as ended too: restarted, never waited for.
            const pid_t ended = ::waitpid(gChildren[i], nullptr, WNOHANG);
            if (ended == gChildren[i] || (ended < 0 && errno == ECHILD)) {
                gChildren[i] = StartOne(gPaths[i]);
                continue;
            }
            if (ostrivan::posix::ReadLink(ostrivan::posix::ProcPath(gChildren[i], "exe")) ==
                gPaths[i]) {
                break;
            }
            ::usleep(1000);
        }
    }
}

// The heavy table: `count` processes cycling through Names(), so that one in every 18 is a
// pending tool and each check name has many processes.
std::vector<std::string> HeavyTable(int count) {
    const auto names = Names();
    std::vector<std::string> table;
    for (int i = 0; i < count; ++i) {
        table.push_back(names[static_cast<std::size_t>(i) % names.size()]);
    }
    return table;
}

// An ordinary server's table: the suite, 5 tools pending at every sweep and 12 check programs
// once each among `count` processes; the rest are workers.
std::vector<std::string> OrdinaryTable(int count) {
    std::vector<std::string> table{"o-alerts.exe",
                                   "o-graphs.exe",
                                   "vantorelle_snmptrap.exe",
                                   "vantorelle_manager.exe",
                                   "rrdtool.exe",
                                   "rrdtool.exe",
                                   "rrdtool.exe",
                                   "klaxo_msn.exe",
                                   "klaxo_msn.exe"};
    for (int i = 0; i < 12; ++i) {
        table.push_back("disk" + std::to_string(i) + "_check.exe");
    }
    for (int i = 0; static_cast<int>(table.size()) < count; ++i) {
        table.push_back("worker" + std::to_string(i % 19));
    }
    return table;
}

void StartIdle(const std::string& folder, const std::vector<std::string>& table) {
    for (const auto& name : table) {
        gPaths.push_back(folder + "/" + name);
        gChildren.push_back(StartOne(gPaths.back()));
    }
    Replenish();
}

// Launches the idle program under the asked name; time stands still, so no check is overdue.
class BenchRuntime final : public ostrivan::FormRuntime {
public:
    explicit BenchRuntime(std::string folder) : folder_(std::move(folder)) {}
    void SetStatusText(const std::string&) override {}
    void SetTimerInterval(std::uint32_t) override {}
    void SetTimerEnabled(bool) override {}
    std::int32_t ShowMessageBox(const std::string&, std::int32_t,
                                const std::optional<std::string>&) override {
        return ostrivan::box::kAnswerOk;
    }
    ostrivan::ProcessIdentity LaunchProgram(const std::string& programPath, const std::string&,
                                            std::int32_t) override {
        const std::string path = fs::exists(programPath) ? programPath : folder_ + "/o-alerts.exe";
        gPaths.push_back(path);
        gChildren.push_back(StartOne(path));
        // Not reaped before the next Replenish: the start time is this child's.
        const pid_t child = gChildren.back();
        const auto pidfd = ostrivan::posix::OpenPidfd(child);
        return {static_cast<ostrivan::ProcessId>(child),
                ostrivan::posix::PidfdStartTime(child, pidfd.Get()).value_or(0)};
    }
    std::string ApplicationFolder() override { return folder_; }
    std::string CommandLineArguments() override { return {}; }
    void End(int) override {}
    void UnloadForm() override {}
    std::int64_t UtcNow() override { return 1'767'268'800'000; }
    std::int64_t MonotonicNow() override { return 0; }

private:
    std::string folder_;
};

int Run(const std::vector<const char*>& argv) {
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const char* word : argv) {
        args.push_back(const_cast<char*>(word));
    }
    args.push_back(nullptr);
    const int error = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(error));
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0); // never 0: that would reap one of the idle children
    return status;
}

std::size_t Floor() {
    std::size_t found = 0;
    DIR* dir = ::opendir("/proc");
    char link[4096];
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') {
            continue;
        }
        const std::string path = std::string("/proc/") + entry->d_name + "/exe";
        if (::readlink(path.c_str(), link, sizeof link) > 0) {
            ++found;
        }
    }
    ::closedir(dir);
    return found;
}

double MedianOf(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double Median(const std::function<void()>& body, int repeats) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const auto start = Clock::now();
        body();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return MedianOf(std::move(times));
}

struct Row {
    std::string figure;
    double ours;
    double reference;
    std::string against;
};

struct Timings {
    double snapshot, ps, floor, kill, pkill, sweep, scan, terminate, killCommand;
    std::size_t terminated, tracked;
};

void MeasureWalks(int repeats, ostrivan::posix::PosixProcessApi& api, Timings& t) {
    t.ps = Median([] { Run({"ps", "-e", "-o", "pid=,comm="}); }, repeats);
    t.floor = Median([] { Floor(); }, repeats);
    t.kill = Median(
        [&] {
            for (int i = 0; i < 20; ++i) {
                ostrivan::KillApp(api, "absent" + std::to_string(i) + ".exe");
            }
        },
        std::max(3, repeats / 3));
    t.pkill = Median(
        [] {
            for (int i = 0; i < 20; ++i) {
                const std::string name = "absent" + std::to_string(i) + ".exe";
                Run({"pkill", "-x", name.c_str()});
            }
        },
        std::max(3, repeats / 3));
}

// The sweep and its steps, and with `walks` the snapshot and KillApp against the usual tools.
Timings Measure(int repeats, const std::string& folder, bool walks) {
    ostrivan::posix::PosixProcessApi api;
    Timings t{};
    t.snapshot = Median([&] { ostrivan::TakeProcessSnapshot(api); }, repeats);
    if (walks) {
        MeasureWalks(repeats, api, t);
    }
    BenchRuntime runtime(folder);
    ostrivan::NoActionLog actions;
    ostrivan::Supervisor supervisor(api, runtime, actions);
    // Each timed sweep also writes the status file and the metrics, as the service does.
    const std::string statusFolder = folder + "/status";
    fs::create_directories(statusFolder);
    ostrivan::posix::Console console;
    ostrivan::posix::PosixStatusPlatform status(console, statusFolder);
    ostrivan::StatusTally tally(actions, [&status] { return status.UtcNow(); });
    ostrivan::StatusPublisher publisher(api, status, tally, 60);
    std::vector<double> sweeps;
    std::vector<double> scans;
    std::vector<double> terminations;
    std::vector<double> kills;
    for (int i = 0; i < repeats; ++i) {
        Replenish();
        ostrivan::SweepOutcome seen;
        supervisor.Sweep(seen); // sees the tools that the timed sweep terminates
        Replenish();
        t.terminated = supervisor.State().PendingKills.size();
        // The sweep's own steps one by one, as Sweep() runs them.
        const auto start = Clock::now();
        ostrivan::SweepOutcome outcome;
        supervisor.KillPendingProcesses(outcome);
        supervisor.ReapOverdueChecks(outcome);
        const auto scan = Clock::now();
        supervisor.ScanProcesses(outcome);
        const auto scanned = Clock::now();
        supervisor.KeepManagerAlive();
        publisher.PublishSweep(supervisor.State(), outcome.snapshot);
        const auto end = Clock::now();
        sweeps.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        scans.push_back(std::chrono::duration<double, std::milli>(scanned - scan).count());
        terminations.push_back(std::chrono::duration<double, std::milli>(scan - start).count());
        // The same number of tools, killed by one kill(1) run.
        Replenish();
        std::vector<std::string> pids;
        for (std::size_t c = 0; c < gChildren.size(); ++c) {
            if (gPaths[c].ends_with("/rrdtool.exe") || gPaths[c].ends_with("/klaxo_msn.exe")) {
                pids.push_back(std::to_string(gChildren[c]));
            }
        }
        std::vector<const char*> command{"kill", "-KILL"};
        for (const auto& pid : pids) {
            command.push_back(pid.c_str());
        }
        const auto killStart = Clock::now();
        Run(command);
        kills.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - killStart).count());
    }
    t.terminate = MedianOf(terminations);
    t.killCommand = MedianOf(kills);
    t.sweep = MedianOf(sweeps);
    t.scan = MedianOf(scans);
    t.tracked = supervisor.State().CheckTable.size() - 1;
    return t;
}

// The tests that start processes under the suite's names hold the same lock: a sweep here
// would end their tools, and their service would end the processes here.
void LockProcessTable() {
    const int fd = ::open("/tmp/ostrivan-process-table.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        std::perror("cannot open /tmp/ostrivan-process-table.lock");
        std::exit(1);
    }
    std::fprintf(stderr, "waiting for the process table lock...\n");
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            std::perror("cannot lock /tmp/ostrivan-process-table.lock");
            std::exit(1);
        }
    }
}

// One sweep on `count` processes and nothing else, for a profiler:
//   valgrind --tool=callgrind --toggle-collect='ostrivan::Supervisor::Sweep(*)' bench --sweep 5000
int ProfileSweep(int count, const std::string& folder) {
    StartIdle(folder, HeavyTable(count));
    ostrivan::posix::PosixProcessApi api;
    BenchRuntime runtime(folder);
    ostrivan::NoActionLog actions;
    ostrivan::Supervisor supervisor(api, runtime, actions);
    ostrivan::SweepOutcome first;
    supervisor.Sweep(first);
    Replenish();
    const std::size_t pending = supervisor.State().PendingKills.size();
    const std::size_t checks = supervisor.State().CheckTable.size() - 1;
    std::fputs("timed sweep begins\n", stderr); // a mark for strace -o
    const auto start = Clock::now();
    ostrivan::SweepOutcome timed;
    supervisor.Sweep(timed);
    std::fputs("timed sweep ends\n", stderr);
    std::printf("%zu pending, %zu check runs tracked\n", pending, checks);
    std::printf("sweep @%d: %.3f ms\n", count,
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    KillAll();
    fs::remove_all(folder);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool profile = argc > 2 && std::string(argv[1]) == "--sweep";
    const int repeats = argc > 1 && !profile ? std::atoi(argv[1]) : 9;
    ::signal(SIGINT, OnSignal);
    ::signal(SIGTERM, OnSignal);
    std::atexit(KillAll);
    LockProcessTable();
    char pattern[] = "/tmp/o-bench-XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    for (const auto& name : Names()) {
        fs::copy_file(IDLE_PATH, folder + "/" + name);
    }
    if (profile) {
        return ProfileSweep(std::atoi(argv[2]), folder);
    }
    std::vector<Row> rows;
    Timings at[2];
    const int counts[2] = {1000, 5000};
    for (int k = 0; k < 2; ++k) {
        StartIdle(folder, HeavyTable(counts[k]));
        at[k] = Measure(repeats, folder, true);
        KillAll();
        const std::string n = std::to_string(counts[k]);
        rows.push_back({"snapshot @" + n + " ms", at[k].snapshot, at[k].ps, "ps -e"});
        rows.push_back({"snapshot @" + n + " ms", at[k].snapshot, at[k].floor, "floor"});
        rows.push_back({"20 KillApp @" + n + " ms", at[k].kill, at[k].pkill, "20 pkill -x"});
        rows.push_back({"sweep @" + n + " ms", at[k].sweep, at[k].snapshot, "1 snapshot"});
        rows.push_back({"sweep's scan @" + n + " ms", at[k].scan, at[k].snapshot, "1 snapshot"});
        rows.push_back(
            {"sweep's kills @" + n + " ms", at[k].terminate, at[k].killCommand, "1 kill -KILL"});
    }
    rows.push_back(
        {"snapshot 5000/1000", at[1].snapshot / at[0].snapshot, at[1].ps / at[0].ps, "ps -e"});
    rows.push_back({"snapshot 5000/1000", at[1].snapshot / at[0].snapshot,
                    at[1].floor / at[0].floor, "floor"});
    rows.push_back({"20 KillApp 5000/1000", at[1].kill / at[0].kill, at[1].pkill / at[0].pkill,
                    "20 pkill -x"});
    rows.push_back({"sweep 5000/1000", at[1].sweep / at[0].sweep, 5.0, "linear (5)"});
    StartIdle(folder, OrdinaryTable(5000));
    const Timings ordinary = Measure(repeats, folder, false);
    KillAll();
    rows.push_back({"sweep @5000/5 tools ms", ordinary.sweep, ordinary.snapshot, "1 snapshot"});
    rows.push_back(
        {"sweep's kills @5000/5 ms", ordinary.terminate, ordinary.killCommand, "1 kill -KILL"});
    fs::remove_all(folder);
    const auto idle = MeasureIdleService(OSERVICE_PATH, IDLE_PATH, FAKETIME_LIBRARY, 1000);
    constexpr double kMiB = 1024.0 * 1024.0;
    if (idle.valid) {
        rows.push_back(
            {"idle RSS after start MiB", idle.residentAfterStart / kMiB, 4.0, "target 4 MiB"});
        rows.push_back({"idle RSS +" + std::to_string(idle.sweepsCounted) + " sweeps MiB",
                        idle.residentAfterSweeps / kMiB, idle.residentBeforeSweeps / kMiB,
                        "RSS before them"});
    }
    std::printf("%-24s %12s %12s %8s  %s\n", "figure", "ours", "reference", "ratio",
                "reference is");
    for (const auto& row : rows) {
        std::printf("%-24s %12.3f %12.3f %8.3f  %s\n", row.figure.c_str(), row.ours, row.reference,
                    row.ours / row.reference, row.against.c_str());
    }
    for (int k = 0; k < 2; ++k) {
        std::printf("sweep @%d: each timed sweep terminated %zu pending tools and tracked %zu "
                    "check runs\n",
                    counts[k], at[k].terminated, at[k].tracked);
    }
    std::printf("sweep @5000/5 tools: each timed sweep terminated %zu pending tools and tracked "
                "%zu check runs\n",
                ordinary.terminated, ordinary.tracked);
    if (idle.valid) {
        std::printf("idle service: %llu wake-ups in %.0f s between two ticks (target 0), "
                    "%d thread(s)\n",
                    static_cast<unsigned long long>(idle.wakeUpsBetweenTicks), idle.windowSeconds,
                    idle.threads);
    } else {
        std::printf("idle service not measured: %s\n", idle.problem.c_str());
    }
    std::printf("cores: %ld, repeats: %d\n", ::sysconf(_SC_NPROCESSORS_ONLN), repeats);
    return 0;
}
