// A long run of the real service on accelerated time, with short-lived tools and check
// programs coming and going at random and the manager killed now and then. Afterwards the
// service must hold what it held after its first sweeps, must have touched nothing but the
// test's own tools, checks and managers, and must have ended no check program before the
// third minute boundary of its clock after the program's start.
//
// OSTRIVAN_SOAK_SEED replays a run (the seed is printed); OSTRIVAN_SOAK_SWEEPS sets the
// number of sweeps.
#include "service_harness.h"

#include "platform/posix/pidfd.h"
#include "platform/posix/proc_reader.h"
#include "platform/posix/proc_text.h"
#include "process/process_snapshot.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

namespace ostrivan::integration {
namespace {

namespace fs = std::filesystem;

// One sweep every 30 ms of real time.
constexpr int kSpeed = 2000;
constexpr std::uint64_t kDefaultSweeps = 2000;
constexpr std::uint64_t kWarmUpSweeps = 50;
constexpr std::int64_t kDay = 86'400;

// Every manager ends by itself 15 s (of its own clock) after its start, well before the next
// sweep, so every sweep launches exactly one: launches count the sweeps, killed managers
// included.
constexpr const char* kManagerOrders = "exit=0 after=15000";

std::uint64_t FromEnvironment(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::stoull(text) : fallback;
}

// A minute, and three times the real time the sweeps take at the run's speed.
std::chrono::seconds SweepsDeadline(std::uint64_t sweeps) {
    return std::chrono::seconds(60 + 3 * sweeps * 60 / kSpeed);
}

double RealSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t MinuteOf(double seconds) {
    return static_cast<std::int64_t>(std::floor(seconds / 60.0));
}

// The service's clock as libfaketime runs it: faked(t) = t0 + speed (t - t0), t0 being the
// real moment the library started in the service. Real times here are seconds since
// `origin`, so that doubles keep sub-millisecond precision.
//
// Each log line is stamped with the faked clock cut to the second, at a real moment no
// later than the test's first sight of it: faked(written) >= stamp and written <= seen give
// t0 <= (speed seen - stamp) / (speed - 1). The smallest of these bounds is kept, and with
// it the faked clock of any real moment is bounded from below, which is the safe side for a
// rule of the form "not earlier than".
class ServiceClock {
public:
    explicit ServiceClock(std::int64_t origin, double spawned)
        : origin_(origin), spawned_(spawned) {}

    std::int64_t Origin() const { return origin_; }

    // Absolute faked seconds of a line stamped HH:MM:SS (UTC), seen at `seen`: the day is
    // the one that puts the stamp nearest the clock's estimate, which is off by seconds at
    // most, never by half a day.
    std::int64_t Stamp(int secondOfDay, double seen) const {
        const double estimate = static_cast<double>(origin_) + kSpeed * seen -
                                (kSpeed - 1) * std::min(t0Bound_, spawned_);
        const auto day = static_cast<std::int64_t>(
            std::llround((estimate - static_cast<double>(secondOfDay)) / kDay));
        return day * kDay + secondOfDay;
    }

    void Observe(std::int64_t stamp, double seen) {
        const double bound = (kSpeed * seen - static_cast<double>(stamp - origin_)) / (kSpeed - 1);
        t0Bound_ = std::min(t0Bound_, bound);
    }

    double T0Bound() const { return t0Bound_; }

    // A lower bound of the service's faked clock at the real moment `real`, absolute.
    double FakedNoLaterThan(double real) const {
        return static_cast<double>(origin_) + kSpeed * real - (kSpeed - 1) * t0Bound_;
    }

private:
    std::int64_t origin_;
    double spawned_;
    double t0Bound_ = std::numeric_limits<double>::infinity();
};

struct Termination {
    std::string name;
    pid_t pid = 0;
    std::int64_t stamp = 0; // absolute faked seconds
};

// Follows the service's log as it grows and keeps what the test needs from it.
class LogFollower {
public:
    LogFollower(std::string path, ServiceClock& clock) : path_(std::move(path)), clock_(clock) {}

    void Poll() {
        std::ifstream in(path_, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(offset_));
        std::ostringstream fresh;
        fresh << in.rdbuf();
        const double seen = RealSeconds() - static_cast<double>(clock_.Origin());
        const std::string text = fresh.str();
        offset_ += text.size();
        partial_ += text;
        for (auto end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n')) {
            Parse(partial_.substr(0, end), seen);
            partial_.erase(0, end + 1);
        }
    }

    std::uint64_t Sweeps() const { return managerLaunches_; }
    pid_t LastManager() const { return lastManager_; }
    // When the last manager launch was seen, in real seconds since the origin.
    double LastManagerSeen() const { return lastManagerSeen_; }
    const std::vector<Termination>& Terminations() const { return terminations_; }
    const std::set<pid_t>& ManagersEndedBySigkill() const { return sigkilledManagers_; }
    std::size_t Count(const std::string& text) const {
        const auto found = counts_.find(text);
        return found == counts_.end() ? 0 : found->second;
    }

private:
    void Parse(const std::string& line, double seen) {
        int hours = 0;
        int minutes = 0;
        int seconds = 0;
        char colon1 = 0;
        char colon2 = 0;
        std::istringstream head(line.substr(0, 8));
        if (line.size() < 9 || !(head >> hours >> colon1 >> minutes >> colon2 >> seconds) ||
            colon1 != ':' || colon2 != ':') {
            return;
        }
        const std::int64_t stamp = clock_.Stamp(hours * 3600 + minutes * 60 + seconds, seen);
        clock_.Observe(stamp, seen);
        const std::string text = line.substr(9);
        for (const char* counted : {"Service paused", "Service continued"}) {
            if (text.find(counted) != std::string::npos) {
                ++counts_[counted];
            }
        }
        pid_t pid = 0;
        if (text.starts_with("launched vantorelle_manager.exe (pid ")) {
            ++managerLaunches_;
            lastManager_ = std::stoi(text.substr(text.find("(pid ") + 5));
            lastManagerSeen_ = seen;
        } else if (text.starts_with("terminated ")) {
            const auto open = text.find(" (pid ");
            pid = std::stoi(text.substr(open + 6));
            terminations_.push_back(Termination{text.substr(11, open - 11), pid, stamp});
        } else if (text.starts_with("vantorelle_manager.exe (pid ") &&
                   text.ends_with("ended, signal SIGKILL")) {
            sigkilledManagers_.insert(std::stoi(text.substr(28)));
        }
    }

    std::string path_;
    ServiceClock& clock_;
    std::size_t offset_ = 0;
    std::string partial_;
    std::uint64_t managerLaunches_ = 0;
    pid_t lastManager_ = 0;
    double lastManagerSeen_ = 0;
    std::vector<Termination> terminations_;
    std::set<pid_t> sigkilledManagers_;
    std::map<std::string, std::size_t> counts_;
};

struct Started {
    std::string name;
    pid_t pid = 0;
    double startedBefore = 0; // real seconds since the origin, taken before the start
    double endBy = 0;         // when the test ends it itself; 0 = never
    std::optional<int> status;
};

struct AtRest {
    std::size_t descriptors = 0;
    std::uint64_t resident = 0;  // all resident pages
    std::uint64_t anonymous = 0; // of which the process's own memory: heap and stacks
    std::size_t threads = 0;
};

std::size_t Threads(pid_t pid) {
    const auto text = posix::ReadSmallFile(posix::ProcPath(pid, "status")).value_or("");
    const auto at = text.find("\nThreads:");
    return at == std::string::npos ? 0 : std::stoul(text.substr(at + 9));
}

bool KilledBy(const std::optional<int>& status, int signal) {
    return status && WIFSIGNALED(*status) && WTERMSIG(*status) == signal;
}

class Soak {
public:
    Soak(SuiteRun& run, ServiceClock& clock, std::uint64_t seed)
        : run_(run), clock_(clock), log_(run.RunFolder() + "/stderr.txt", clock), random_(seed) {
        // One copy of the stand-in that every check program is a hard link of, so that each
        // check can have a name of its own without a copy of its own.
        template_ = run.RunFolder() + "/check-template";
        fs::copy_file(STANDIN_PATH, template_);
    }

    LogFollower& Log() { return log_; }
    const std::vector<Started>& Checks() const { return checks_; }
    const std::vector<Started>& Tools() const { return tools_; }
    std::size_t ManagerKills() const { return managerKills_; }
    std::size_t Stragglers() const { return stragglers_; }
    // Checks started while another run of their name was running.
    std::size_t Overlaps() const { return overlaps_; }
    const std::set<pid_t>& KilledManagers() const { return killedManagers_; }

    // Runs random traffic until the service has swept `sweeps` times in all.
    bool RunUntil(std::uint64_t sweeps, std::chrono::seconds deadline) {
        const auto until = std::chrono::steady_clock::now() + deadline;
        while (log_.Sweeps() < sweeps) {
            if (std::chrono::steady_clock::now() > until) {
                return false;
            }
            Step();
            std::this_thread::sleep_for(3ms);
        }
        return true;
    }

    // Paused, with every ended child reaped: what the service holds when it does nothing.
    AtRest MeasureAtRest() {
        SignalAndAwait(SIGUSR1, "Service paused");
        EXPECT_TRUE(Eventually([&] { return ZombieChildren(run_.ServicePid()) == 0; }))
            << ZombieChildren(run_.ServicePid()) << " children of the service wait to be reaped";
        AtRest rest;
        rest.descriptors = OpenDescriptors(run_.ServicePid());
        const auto status = posix::ReadSmallFile(posix::ProcPath(run_.ServicePid(), "status"));
        rest.resident = ResidentBytes(run_.ServicePid()).value_or(0);
        rest.anonymous = posix::ParseStatusKilobytes(status.value_or(""), "RssAnon").value_or(0);
        rest.threads = Threads(run_.ServicePid());
        return rest;
    }

    void Continue() { SignalAndAwait(SIGUSR2, "Service continued"); }

    void NoteEnds() {
        for (auto* group : {&tools_, &checks_}) {
            for (auto& started : *group) {
                if (!started.status) {
                    started.status = run_.EndOf(started.pid);
                }
            }
        }
    }

private:
    // Sends `signal` and waits for one more `notice` in the service's log.
    void SignalAndAwait(int signal, const std::string& notice) {
        const std::size_t expected = log_.Count(notice) + 1;
        run_.Signal(signal);
        EXPECT_TRUE(Eventually([&] {
            log_.Poll();
            return log_.Count(notice) >= expected;
        })) << notice;
    }

    bool Chance(double probability) { return std::bernoulli_distribution(probability)(random_); }
    double Uniform(double from, double to) {
        return std::uniform_real_distribution<double>(from, to)(random_);
    }
    double Now() const { return RealSeconds() - static_cast<double>(clock_.Origin()); }

    static std::size_t Alive(const std::vector<Started>& group) {
        return static_cast<std::size_t>(std::count_if(
            group.begin(), group.end(), [](const Started& started) { return !started.status; }));
    }

    void Step() {
        log_.Poll();
        NoteEnds();
        const double sweep = 60.0 / kSpeed;
        // Tools: half of them are ended by the test within two sweeps, often before any
        // sweep saw them; the others wait for the service.
        if (Alive(tools_) < 3 && Chance(0.05)) {
            static const std::array<const char*, 4> kTools = {"rrdtool.exe", "klaxo_msn.exe",
                                                              "myrrdtool.exe", "RRDTOOL.EXE"};
            const char* name = kTools[std::uniform_int_distribution<std::size_t>(0, 3)(random_)];
            const double endBy = Chance(0.5) ? Now() + Uniform(0, 2 * sweep) : 0;
            const double before = Now();
            tools_.push_back(Started{name, run_.StartExtra(name), before, endBy, {}});
        }
        // Checks: a few names, each run for many targets side by side, so that runs of one
        // name overlap: none may be ended before three minute boundaries of its own. A third
        // are ended by the test within ten sweeps; the rest run until the service ends them.
        if (Alive(checks_) < 6 && Chance(0.05)) {
            static const std::array<const char*, 3> kChecks = {"ping_check.exe", "disk_check.exe",
                                                               "PING_CHECK.EXE"};
            const char* name = kChecks[std::uniform_int_distribution<std::size_t>(0, 2)(random_)];
            std::error_code exists; // from an earlier run of the name
            fs::create_hard_link(template_, run_.Folder() + "/" + name, exists);
            overlaps_ += std::any_of(checks_.begin(), checks_.end(), [&](const Started& other) {
                return !other.status && NormalizeImageName(other.name) == NormalizeImageName(name);
            });
            const double endBy = Chance(1.0 / 3) ? Now() + Uniform(0, 10 * sweep) : 0;
            const double before = Now();
            checks_.push_back(Started{name, run_.StartExtra(name), before, endBy, {}});
        }
        for (auto* group : {&tools_, &checks_}) {
            for (auto& started : *group) {
                if (!started.status && started.endBy != 0 && Now() > started.endBy) {
                    ::kill(started.pid, SIGTERM);
                    started.endBy = 0;
                }
            }
        }
        if (Chance(0.02)) {
            KillManager();
        } else if (Now() - log_.LastManagerSeen() > 10 * sweep && KillManager()) {
            // A manager that outlived its orders by many sweeps (seen on a busy machine)
            // would stop the launches that count the sweeps; its sweeps go uncounted.
            ++stragglers_;
        }
    }

    // Through a pidfd, and only once the id is known to be this run's manager: the id can
    // have gone to any other process since the launch.
    bool KillManager() {
        const pid_t pid = log_.LastManager();
        if (pid == 0) {
            return false;
        }
        const posix::UniqueFd pidfd = posix::OpenPidfd(pid);
        if (!pidfd || posix::PidfdEnded(pidfd.Get()) ||
            posix::ReadLink(posix::ProcPath(pid, "exe")) !=
                run_.Folder() + "/vantorelle_manager.exe" ||
            !posix::PidfdHoldsPid(pidfd.Get())) {
            return false;
        }
        if (!posix::PidfdKill(pidfd.Get())) {
            return false;
        }
        ++managerKills_;
        killedManagers_.insert(pid);
        return true;
    }

    SuiteRun& run_;
    ServiceClock& clock_;
    LogFollower log_;
    std::mt19937_64 random_;
    std::string template_;
    std::vector<Started> tools_;
    std::vector<Started> checks_;
    std::size_t managerKills_ = 0;
    std::size_t stragglers_ = 0;
    std::size_t overlaps_ = 0;
    std::set<pid_t> killedManagers_;
};

// An environment variable of the test process, and so of the service it starts, for the
// length of a scope.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            saved_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
    ~ScopedVariable() {
        if (saved_) {
            ::setenv(name_, saved_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// Under AddressSanitizer the service's allocator keeps freed memory in quarantine, up to
// 256 MiB, so that its resident size grows for most of a run by design; without the
// quarantine it reuses memory as the ordinary allocator does.
// What resident memory may grow by between the two measurements. The sanitizer's allocator pads
// every block and keeps free lists per size class, so it is given twice as much.
constexpr std::uint64_t kResidentTolerance = (kAddressSanitizer ? 512 : 256) * 1024;

std::string ServiceSanitizerOptions() {
    const char* options = std::getenv("ASAN_OPTIONS");
    return std::string(options != nullptr ? options : "") +
           ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0";
}

TEST(Soak, ThousandsOfSweepsWithToolsChecksAndKilledManagersLeaveTheServiceAsItWas) {
    const std::uint64_t seed = FromEnvironment("OSTRIVAN_SOAK_SEED", std::random_device{}());
    const std::uint64_t sweeps = FromEnvironment("OSTRIVAN_SOAK_SWEEPS", kDefaultSweeps);
    std::cout << "soak seed " << seed << " (OSTRIVAN_SOAK_SEED), " << sweeps
              << " sweeps (OSTRIVAN_SOAK_SWEEPS)" << std::endl;
    RecordProperty("seed", std::to_string(seed));

    // Local time is UTC for the service, so that its log stamps and its minute boundaries
    // are those of the test's arithmetic.
    ScopedVariable utc("TZ", "UTC");
    std::optional<ScopedVariable> sanitizer;
    if (kAddressSanitizer) {
        sanitizer.emplace("ASAN_OPTIONS", ServiceSanitizerOptions());
    }
    const auto origin = static_cast<std::int64_t>(RealSeconds()) - 1;
    const double spawned = RealSeconds() - static_cast<double>(origin);
    SuiteRun run(
        RunOptions().Environment("STANDIN_VANTORELLE_MANAGER_EXE", kManagerOrders).Speed(kSpeed));
    ServiceClock clock(origin, spawned);
    Soak soak(run, clock, seed);
    const auto wallStart = std::chrono::steady_clock::now();

    // After the start sequence, whose list of side programs ends security checks.
    ASSERT_TRUE(run.WaitForLog("launched vantorelle_watcher.exe"));
    std::vector<pid_t> decoys;
    for (const char* name : {"notes.exe", "rrdtool.exe.bak", "rrdtool", "x_check.exe.old",
                             "security_check.exe", "netsecurity_check.exe", "vantorelle_mgr.exe"}) {
        decoys.push_back(run.StartExtra(name));
    }

    ASSERT_TRUE(soak.RunUntil(kWarmUpSweeps, 60s));
    const AtRest before = soak.MeasureAtRest();
    soak.Continue();
    ASSERT_TRUE(soak.RunUntil(kWarmUpSweeps + sweeps, SweepsDeadline(sweeps)))
        << soak.Log().Sweeps() << " sweeps";
    const AtRest after = soak.MeasureAtRest();
    soak.Log().Poll();
    soak.NoteEnds();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();

    // Where the service was after its first sweeps. Resident memory is compared on its
    // anonymous part, the service's own heap and stacks: the pages of its program and
    // libraries come and go with the page cache.
    EXPECT_EQ(after.descriptors, before.descriptors);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_LE(after.anonymous, before.anonymous + kResidentTolerance)
        << "anonymous resident memory grew from " << before.anonymous << " to " << after.anonymous;

    // Nothing outside the test's own processes was touched.
    for (const pid_t decoy : decoys) {
        EXPECT_FALSE(run.EndOf(decoy).has_value()) << "decoy " << decoy << " was ended";
    }
    // The log names a process by its executable, or by its command name (the first 15
    // characters) when the executable can no longer be read, as for one on its way out.
    std::map<pid_t, std::vector<const Started*>> ours;
    for (const auto* group : {&soak.Tools(), &soak.Checks()}) {
        for (const Started& started : *group) {
            ours[started.pid].push_back(&started);
        }
    }
    const auto owner = [&](const Termination& ended) -> const Started* {
        for (const Started* started : ours[ended.pid]) {
            const std::string name = NormalizeImageName(started->name);
            if (name == ended.name || (ended.name.size() == 15 && name.starts_with(ended.name))) {
                return started;
            }
        }
        return nullptr;
    };
    std::set<std::pair<std::string, pid_t>> terminated;
    std::map<const Started*, const Termination*> checkEnds;
    for (const Termination& ended : soak.Log().Terminations()) {
        const Started* started = owner(ended);
        EXPECT_NE(started, nullptr)
            << "terminated " << ended.name << " (pid " << ended.pid << "), not the test's";
        if (started != nullptr) {
            terminated.emplace(started->name, started->pid);
            checkEnds.emplace(started, &ended);
        }
    }
    // Nobody but the service kills the test's tools and checks with SIGKILL, and it logs
    // every termination.
    for (const auto* group : {&soak.Tools(), &soak.Checks()}) {
        for (const Started& started : *group) {
            if (KilledBy(started.status, SIGKILL)) {
                EXPECT_TRUE(terminated.contains({started.name, started.pid}))
                    << started.name << " (pid " << started.pid << ") killed, not by the service";
            }
        }
    }
    for (const pid_t manager : soak.Log().ManagersEndedBySigkill()) {
        EXPECT_TRUE(soak.KilledManagers().contains(manager))
            << "manager " << manager << " was killed, not by the test";
    }

    // The service's clock must be the map the test reads it by: t0 no earlier than the
    // service's start (a bound below that would mean the model is wrong).
    ASSERT_GE(clock.T0Bound(), spawned) << "the service's log contradicts its clock model";

    // Check programs: a check started at real moment s is first seen by a sweep at faked
    // time F >= faked(s), marked by a later sweep at M with minute(M) - minute(F) >= 3 and
    // ended by the sweep after that, at K > M. So minute(K) - minute(faked(s)) >= 3, where
    // minute() cuts to the whole minute of the service's clock and K is the stamp of the
    // service's "terminated" line. faked(s) is taken from below (see ServiceClock), which
    // can only lower its minute: the rule stays true of a correct service and fails when a
    // check is ended after fewer than three minute boundaries since its start.
    std::size_t checksEndedByService = 0;
    std::map<std::int64_t, std::size_t> boundaryCounts;
    std::size_t checksEndedByTest = 0;
    for (const Started& check : soak.Checks()) {
        const auto found = checkEnds.find(&check);
        if (found == checkEnds.end()) {
            checksEndedByTest += KilledBy(check.status, SIGTERM) ? 1 : 0;
            continue;
        }
        ++checksEndedByService;
        const double startedAt = clock.FakedNoLaterThan(check.startedBefore);
        const std::int64_t boundaries =
            MinuteOf(static_cast<double>(found->second->stamp)) - MinuteOf(startedAt);
        ++boundaryCounts[boundaries];
        EXPECT_GE(boundaries, 3) << check.name << " ended after " << boundaries
                                 << " minute boundaries (started at faked time >= " << std::fixed
                                 << startedAt << ", ended at " << found->second->stamp << ")";
    }
    std::size_t toolsEndedByService = 0;
    for (const Started& tool : soak.Tools()) {
        if (KilledBy(tool.status, SIGKILL)) {
            ++toolsEndedByService;
        }
    }
    // The run did what it is meant to.
    EXPECT_GE(soak.Log().Sweeps(), kWarmUpSweeps + sweeps);
    EXPECT_GE(checksEndedByService, sweeps / 20);
    EXPECT_GE(soak.Overlaps(), sweeps / 20);
    EXPECT_GE(toolsEndedByService, sweeps / 20);
    EXPECT_GE(soak.ManagerKills(), sweeps / 200);

    std::cout << "soak: " << soak.Log().Sweeps() << " sweeps in " << wall << " s; "
              << soak.Checks().size() << " checks (" << checksEndedByService
              << " ended by the service, " << checksEndedByTest << " by the test), "
              << soak.Tools().size() << " tools (" << toolsEndedByService
              << " ended by the service), " << soak.ManagerKills() << " managers killed ("
              << soak.Stragglers() << " that outlived their orders); at rest " << before.descriptors
              << " -> " << after.descriptors << " descriptors, " << before.resident << " -> "
              << after.resident << " bytes resident (anonymous " << before.anonymous << " -> "
              << after.anonymous << "), " << before.threads << " -> " << after.threads
              << " threads; t0 bound " << clock.T0Bound() - spawned
              << " s after the spawn; checks ended after";
    for (const auto& [boundaries, count] : boundaryCounts) {
        std::cout << " " << count << "x" << boundaries;
    }
    std::cout << " minute boundaries" << std::endl;
    RecordProperty("sweeps", static_cast<int>(soak.Log().Sweeps()));

    // And it still stops cleanly (under the sanitizers, with no leak found on the way out).
    run.Signal(SIGTERM);
    const auto status = run.WaitForExit();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;
}

} // namespace
} // namespace ostrivan::integration
