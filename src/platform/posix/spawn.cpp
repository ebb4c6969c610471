#include "platform/posix/spawn.h"

#include "platform/posix/unique_fd.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

extern char** environ;

namespace ostrivan::posix {
namespace {

// posix_spawn's attribute and file-action objects, destroyed on every way out.
class SpawnSetup {
public:
    // `output`, when given, becomes the program's standard output.
    explicit SpawnSetup(int output = -1) {
        ::posix_spawnattr_init(&attributes_);
        ::posix_spawn_file_actions_init(&actions_);
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        ::posix_spawnattr_setsigmask(&attributes_, &none);
        ::posix_spawnattr_setsigdefault(&attributes_, &all);
        ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (output >= 0) {
            ::posix_spawn_file_actions_adddup2(&actions_, output, STDOUT_FILENO);
        }
        // Whatever the service itself inherited stays with it.
        ::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attributes_);
    }

    const posix_spawnattr_t* Attributes() const { return &attributes_; }
    const posix_spawn_file_actions_t* Actions() const { return &actions_; }

private:
    posix_spawnattr_t attributes_;
    posix_spawn_file_actions_t actions_;
};

bool MeantForTheServiceAlone(std::string_view variable) {
    for (const std::string_view name : {"NOTIFY_SOCKET=", "WATCHDOG_USEC=", "WATCHDOG_PID="}) {
        if (variable.starts_with(name)) {
            return true;
        }
    }
    return false;
}

std::vector<char*> ArgumentPointers(const std::vector<std::string>& argv) {
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (const auto& word : argv) {
        pointers.push_back(const_cast<char*>(word.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

[[noreturn]] void ReportAndExit(int report) {
    const int error = errno;
    [[maybe_unused]] const auto written = ::write(report, &error, sizeof error);
    ::_exit(127);
}

// The child's way from fork to exec. Only system calls: the parent's state may be anything.
// Reports the errno of a step that fails on `report`, which exec closes when it succeeds.
[[noreturn]] void BecomeProgram(const char* program, char* const* argv, char* const* envp,
                                pid_t parent, int report) {
    // Ended with the service, however the service ends. The signal comes when the thread
    // that forked ends: the service's one thread, so with the service itself.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
        ReportAndExit(report);
    }
    if (::getppid() != parent) {
        ::_exit(127); // the service died before the signal was set: no one left to report to
    }
    if (report <= STDERR_FILENO) {
        report = ::fcntl(report, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (report < 0) {
            ::_exit(127);
        }
    }
    ::setsid();
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        ::sigaction(signal, &defaults, nullptr); // refused for the few that cannot change
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int input = ::open("/dev/null", O_RDONLY);
    if (input < 0 || (input != STDIN_FILENO && ::dup2(input, STDIN_FILENO) < 0)) {
        ReportAndExit(report);
    }
    // Whatever the service itself inherited stays with it.
    ::close_range(STDERR_FILENO + 1, static_cast<unsigned>(report) - 1, 0);
    ::close_range(static_cast<unsigned>(report) + 1, ~0U, 0);
    ::execve(program, argv, envp);
    ReportAndExit(report);
}

} // namespace

std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (!MeantForTheServiceAlone(*variable)) {
            variables.emplace_back(*variable);
        }
    }
    return variables;
}

Spawned SpawnDetached(const std::string& program, const std::vector<std::string>& argv) {
    auto pointers = ArgumentPointers(argv);
    const auto environment = ChildEnvironment();
    auto environmentPointers = ArgumentPointers(environment);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return Spawned{0, errno};
    }
    const UniqueFd reading(ends[0]);
    UniqueFd writing(ends[1]);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        return Spawned{0, errno};
    }
    if (pid == 0) {
        BecomeProgram(program.c_str(), pointers.data(), environmentPointers.data(), parent,
                      writing.Get());
    }
    writing.Reset();
    // Nothing to read once exec has closed the child's end: the program runs.
    int error = 0;
    ssize_t got = 0;
    while ((got = ::read(reading.Get(), &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (got != static_cast<ssize_t>(sizeof error)) {
        return Spawned{pid, 0};
    }
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return Spawned{0, error};
}

namespace {

int WaitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

std::optional<std::string> RunAndRead(const std::vector<std::string>& argv) {
    int ends[2];
    if (argv.empty() || ::pipe2(ends, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    UniqueFd reading(ends[0]);
    UniqueFd writing(ends[1]);
    const SpawnSetup setup(writing.Get());
    auto pointers = ArgumentPointers(argv);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0].c_str(), setup.Actions(), setup.Attributes(), pointers.data(),
                       environ) != 0) {
        return std::nullopt;
    }
    writing.Reset();
    std::string output;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(reading.Get(), buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno != EINTR) {
            break;
        }
        output.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    return WaitFor(pid) == 0 ? std::optional<std::string>(output) : std::nullopt;
}

int RunAndWait(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return -1;
    }
    const SpawnSetup setup;
    auto pointers = ArgumentPointers(argv);
    const auto environment = ChildEnvironment();
    auto environmentPointers = ArgumentPointers(environment);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0].c_str(), setup.Actions(), setup.Attributes(), pointers.data(),
                       environmentPointers.data()) != 0) {
        return -1;
    }
    return WaitFor(pid);
}

} // namespace ostrivan::posix
