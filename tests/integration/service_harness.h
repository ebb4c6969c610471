#pragma once

#include "posix_console_support.h"

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ostrivan::integration {

using namespace std::chrono_literals;

inline constexpr std::array<const char*, 5> kSuitePrograms = {
    "o-alerts.exe", "o-graphs.exe", "vantorelle_snmptrap.exe", "vantorelle_manager.exe",
    "vantorelle_watcher.exe"};

// The environment word that makes every manager the service launches end by itself
// shortly after its start, so that each sweep launches a new one: the number of manager
// launches in the log counts the sweeps.
inline constexpr const char* kCountingManager = "exit=0 after=2000";

struct RunOptions {
    std::vector<std::string> arguments;
    std::vector<std::pair<std::string, std::string>> environment;
    std::vector<std::string> programs{kSuitePrograms.begin(), kSuitePrograms.end()};
    // Time runs this many times faster for the service and everything it launches, through
    // libfaketime: 60 makes a sweep interval one second.
    int speed = 60;
    // Standard streams on this terminal instead of /dev/null and files.
    posix::testing::Terminal* terminal = nullptr;

    RunOptions& Arguments(std::vector<std::string> words) {
        arguments = std::move(words);
        return *this;
    }
    RunOptions& Environment(const std::string& name, const std::string& value) {
        environment.emplace_back(name, value);
        return *this;
    }
    RunOptions& Programs(std::vector<std::string> names) {
        programs = std::move(names);
        return *this;
    }
    RunOptions& Speed(int times) {
        speed = times;
        return *this;
    }
    RunOptions& OnTerminal(posix::testing::Terminal& on) {
        terminal = &on;
        return *this;
    }
};

// One o-service in a temporary suite folder ("suite dir", with a blank) beside copies of the
// stand-in under the suite's names, with temporary unit and lock folders. On the way out every
// process started from the run's folders is ended and reaped, whether the test passed or
// not, and the folders are removed.
class SuiteRun {
public:
    explicit SuiteRun(RunOptions options = {});
    SuiteRun(const SuiteRun&) = delete;
    SuiteRun& operator=(const SuiteRun&) = delete;
    ~SuiteRun();

    pid_t ServicePid() const { return service_; }
    const std::string& Folder() const { return folder_; }
    const std::string& UnitFolder() const { return units_; }
    const std::string& RunFolder() const { return root_; }

    // Processes running from this run's copy of `program`; ended ones are not counted.
    std::vector<pid_t> Running(const std::string& program) const;
    // Starts a stand-in copy named `program` in the suite folder, from the test.
    pid_t StartExtra(const std::string& program, std::vector<std::string> arguments = {});
    // True once the process has ended and been reaped; its wait status.
    std::optional<int> EndOf(pid_t pid) const;

    std::vector<std::string> StatusLines() const;
    std::string Log() const;
    std::size_t CountInLog(const std::string& text) const;
    bool WaitForLog(const std::string& text, std::size_t count = 1,
                    std::chrono::milliseconds deadline = 60s) const;
    bool WaitForStatus(const std::string& text, std::chrono::milliseconds deadline = 60s) const;
    // Sweeps counted by manager launches (see kCountingManager).
    std::size_t ManagerLaunches() const;

    // A new o-service in the same folders, once the last one has ended.
    void RunAgain(const std::vector<std::string>& arguments);
    // File names in the unit folder.
    std::vector<std::string> UnitFiles() const;

    void Signal(int signal) const;
    // The service's wait status once it has ended.
    std::optional<int> WaitForExit(std::chrono::milliseconds deadline = 60s) const;

private:
    void Start();
    void EndEverything();
    void RemoveFaketimeFiles() const;

    RunOptions options_;
    std::string root_;
    std::string folder_;
    std::string units_;
    pid_t service_ = 0;
    std::vector<pid_t> services_; // every o-service started, in order
};

// Children of `pid` that have ended and wait to be reaped.
std::size_t ZombieChildren(pid_t pid);
std::size_t OpenDescriptors(pid_t pid);
std::optional<std::uint64_t> ResidentBytes(pid_t pid);
std::vector<std::string> CommandLine(pid_t pid);
std::string EnvironmentOf(pid_t pid);

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 60s);

} // namespace ostrivan::integration
