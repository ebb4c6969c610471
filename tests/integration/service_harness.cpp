#include "service_harness.h"

#include "platform/posix/proc_reader.h"
#include "platform/posix/proc_text.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace ostrivan::integration {
namespace {

namespace fs = std::filesystem;

// Programs the service launched outlive it when it is killed; as the subreaper of
// everything it starts, the test process gets them back and reaps them, instead of leaving
// zombies to an init that may not reap.
const bool kSubreaper = [] { return ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0; }();

// Wait statuses of every child reaped so far.
std::map<pid_t, int>& Ended() {
    static std::map<pid_t, int> ended;
    return ended;
}

void ReapChildren() {
    int status = 0;
    pid_t pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
        Ended()[pid] = status;
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<pid_t> AllPids() {
    std::vector<pid_t> pids;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
            pids.push_back(std::stoi(name));
        }
    }
    return pids;
}

// Processes whose executable lies under `folder`.
std::vector<pid_t> ProcessesUnder(const std::string& folder) {
    std::vector<pid_t> found;
    for (const pid_t pid : AllPids()) {
        const auto exe = posix::ReadLink(posix::ProcPath(pid, "exe"));
        if (exe && exe->starts_with(folder + "/")) {
            found.push_back(pid);
        }
    }
    return found;
}

std::vector<std::string> ServiceEnvironment(const std::string& units, const RunOptions& options) {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string text = *variable;
        if (text.starts_with("NOTIFY_SOCKET=") || text.starts_with("LD_PRELOAD=") ||
            text.starts_with("FAKETIME") || text.starts_with("STANDIN_") ||
            text.starts_with("OSTRIVAN_")) {
            continue;
        }
        environment.push_back(text);
    }
    // The first of two equal names wins: a test's own unit folder replaces the run's.
    const bool ownUnitFolder = std::ranges::any_of(options.environment, [](const auto& variable) {
        return variable.first == "OSTRIVAN_UNIT_DIR";
    });
    if (!ownUnitFolder) {
        environment.push_back("OSTRIVAN_UNIT_DIR=" + units);
    }
    if (options.speed > 1) {
        environment.push_back(std::string("LD_PRELOAD=") + FAKETIME_LIBRARY);
        environment.push_back("FAKETIME=+0 x" + std::to_string(options.speed));
    }
    for (const auto& [name, value] : options.environment) {
        environment.push_back(name + "=" + value);
    }
    return environment;
}

pid_t Spawn(const std::string& program, const std::vector<std::string>& arguments,
            const std::vector<std::string>& environment, int in, int out, int err) {
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, in, 0);
    ::posix_spawn_file_actions_adddup2(&actions, out, 1);
    ::posix_spawn_file_actions_adddup2(&actions, err, 2);
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::vector<char*> argv;
    for (const auto& word : arguments) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& word : environment) {
        envp.push_back(const_cast<char*>(word.c_str()));
    }
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int error =
        ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
    }
    return pid;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        ReapChildren();
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
}

SuiteRun::SuiteRun(RunOptions options) : options_(std::move(options)) {
    if (!kSubreaper) {
        throw std::runtime_error("cannot become the subreaper of the service's programs");
    }
    fs::create_directories(TEST_ROOT);
    std::string pattern = std::string(TEST_ROOT) + "/run-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = pattern;
    folder_ = root_ + "/suite dir";
    units_ = root_ + "/units";
    // After the test's own lock folder, which comes first and wins.
    options_.environment.emplace_back("OSTRIVAN_LOCK_DIR", root_ + "/lock");
    fs::create_directory(folder_);
    fs::create_directory(units_);
    fs::copy_file(OSERVICE_PATH, folder_ + "/o-service");
    for (const auto& program : options_.programs) {
        fs::copy_file(STANDIN_PATH, folder_ + "/" + program);
    }
    Start();
}

void SuiteRun::Start() {
    const int in = options_.terminal != nullptr ? options_.terminal->slave.Get()
                                                : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = options_.terminal != nullptr
                        ? options_.terminal->slave.Get()
                        : ::open((root_ + "/stdout.txt").c_str(),
                                 O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int err = options_.terminal != nullptr
                        ? options_.terminal->slave.Get()
                        : ::open((root_ + "/stderr.txt").c_str(),
                                 O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    std::vector<std::string> arguments{folder_ + "/o-service"};
    arguments.insert(arguments.end(), options_.arguments.begin(), options_.arguments.end());
    try {
        service_ =
            Spawn(arguments[0], arguments, ServiceEnvironment(units_, options_), in, out, err);
    } catch (...) {
        if (options_.terminal == nullptr) {
            ::close(in);
            ::close(out);
            ::close(err);
        }
        throw;
    }
    if (options_.terminal == nullptr) {
        ::close(in);
        ::close(out);
        ::close(err);
    }
    services_.push_back(service_);
}

void SuiteRun::RunAgain(const std::vector<std::string>& arguments) {
    if (!EndOf(service_)) {
        throw std::logic_error("the last o-service of this run has not ended");
    }
    options_.arguments = arguments;
    Start();
}

SuiteRun::~SuiteRun() {
    EndEverything();
    if (::testing::Test::HasFailure()) {
        std::cerr << "--- o-service standard output (" << root_ << ")\n"
                  << ReadFile(root_ + "/stdout.txt") << "--- o-service standard error\n"
                  << ReadFile(root_ + "/stderr.txt") << "---\n";
    }
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void SuiteRun::EndEverything() {
    // Asked first, so that the service ends its suite the way it would anyway.
    if (!EndOf(service_)) {
        ::kill(service_, SIGTERM);
        if (!Eventually([&] { return EndOf(service_).has_value(); }, 20s)) {
            ::kill(service_, SIGKILL);
        }
    }
    Eventually(
        [&] {
            const auto left = ProcessesUnder(root_);
            for (const pid_t pid : left) {
                ::kill(pid, SIGKILL);
            }
            return left.empty() && EndOf(service_).has_value();
        },
        30s);
    ReapChildren();
    RemoveFaketimeFiles();
}

// libfaketime in a sped-up service creates a shared memory and a semaphore named after the
// service's process id, which every program that loads the library after it shares; nothing
// removes them when the service ends.
void SuiteRun::RemoveFaketimeFiles() const {
    std::error_code ignored;
    for (const pid_t pid : services_) {
        if (EndOf(pid)) {
            fs::remove("/dev/shm/faketime_shm_" + std::to_string(pid), ignored);
            fs::remove("/dev/shm/sem.faketime_sem_" + std::to_string(pid), ignored);
        }
    }
}

std::vector<pid_t> SuiteRun::Running(const std::string& program) const {
    std::vector<pid_t> found;
    for (const pid_t pid : AllPids()) {
        if (posix::ReadLink(posix::ProcPath(pid, "exe")) == folder_ + "/" + program) {
            found.push_back(pid);
        }
    }
    return found;
}

pid_t SuiteRun::StartExtra(const std::string& program, std::vector<std::string> arguments) {
    const std::string path = folder_ + "/" + program;
    if (!fs::exists(path)) {
        fs::copy_file(STANDIN_PATH, path);
    }
    arguments.insert(arguments.begin(), path);
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = Spawn(path, arguments, {}, in, 1, 2);
    ::close(in);
    // The id may have belonged to a child reaped long ago; its old end is not this one's.
    Ended().erase(pid);
    return pid;
}

std::optional<int> SuiteRun::EndOf(pid_t pid) const {
    ReapChildren();
    const auto found = Ended().find(pid);
    if (found == Ended().end()) {
        return std::nullopt;
    }
    return found->second;
}

std::vector<std::string> SuiteRun::StatusLines() const {
    return SplitLines(ReadFile(root_ + "/stdout.txt"));
}

std::string SuiteRun::Log() const {
    return ReadFile(root_ + "/stderr.txt");
}

std::size_t SuiteRun::CountInLog(const std::string& text) const {
    const std::string log = Log();
    std::size_t count = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
        ++count;
    }
    return count;
}

bool SuiteRun::WaitForLog(const std::string& text, std::size_t count,
                          std::chrono::milliseconds deadline) const {
    return Eventually([&] { return CountInLog(text) >= count; }, deadline);
}

bool SuiteRun::WaitForStatus(const std::string& text, std::chrono::milliseconds deadline) const {
    return Eventually(
        [&] {
            const auto lines = StatusLines();
            return !lines.empty() && lines.back() == text;
        },
        deadline);
}

std::size_t SuiteRun::ManagerLaunches() const {
    return CountInLog("launched vantorelle_manager.exe");
}

std::vector<std::string> SuiteRun::UnitFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(units_)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void SuiteRun::Signal(int signal) const {
    if (!EndOf(service_)) {
        ::kill(service_, signal);
    }
}

std::optional<int> SuiteRun::WaitForExit(std::chrono::milliseconds deadline) const {
    std::optional<int> status;
    Eventually(
        [&] {
            status = EndOf(service_);
            return status.has_value();
        },
        deadline);
    return status;
}

std::size_t ZombieChildren(pid_t parent) {
    std::size_t zombies = 0;
    for (const pid_t pid : AllPids()) {
        const auto text = posix::ReadSmallFile(posix::ProcPath(pid, "stat"));
        if (!text) {
            continue;
        }
        const auto close = text->rfind(')');
        std::istringstream fields(text->substr(close + 1));
        char state = 0;
        pid_t ppid = 0;
        fields >> state >> ppid;
        if (ppid == parent && state == 'Z') {
            ++zombies;
        }
    }
    return zombies;
}

std::size_t OpenDescriptors(pid_t pid) {
    std::size_t count = 0;
    std::error_code error;
    for (fs::directory_iterator entry(posix::ProcPath(pid, "fd"), error), end;
         !error && entry != end; entry.increment(error)) {
        ++count;
    }
    return count;
}

std::optional<std::uint64_t> ResidentBytes(pid_t pid) {
    const auto text = posix::ReadSmallFile(posix::ProcPath(pid, "status"));
    return text ? posix::ParseStatusKilobytes(*text, "VmRSS") : std::nullopt;
}

std::vector<std::string> CommandLine(pid_t pid) {
    std::vector<std::string> words;
    const std::string text = posix::ReadSmallFile(posix::ProcPath(pid, "cmdline")).value_or("");
    std::size_t at = 0;
    while (at < text.size()) {
        const auto end = text.find('\0', at);
        words.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return words;
}

std::string EnvironmentOf(pid_t pid) {
    return posix::ReadSmallFile(posix::ProcPath(pid, "environ")).value_or("");
}

} // namespace ostrivan::integration
