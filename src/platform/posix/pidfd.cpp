#include "platform/posix/pidfd.h"

#include "platform/posix/proc_reader.h"
#include "platform/posix/proc_text.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace ostrivan::posix {
namespace {

// Called directly: the C library's <sys/pidfd.h> of Debian 12 declares these without C
// linkage, so C++ cannot link against it.
int PidfdOpen(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0U));
}

int PidfdSendSignal(int pidfd, int signal) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0U));
}

} // namespace

UniqueFd OpenPidfd(pid_t pid) {
    if (pid <= 0) {
        return UniqueFd();
    }
    return UniqueFd(PidfdOpen(pid));
}

bool PidfdHoldsPid(int pidfd) {
    // Signal 0 only asks; a process we may not signal still exists.
    return PidfdSendSignal(pidfd, 0) == 0 || errno == EPERM;
}

bool PidfdEnded(int pidfd) {
    return PidfdWaitEnded(pidfd, 0).value_or(false);
}

std::optional<bool> PidfdWaitEnded(int pidfd, std::uint32_t milliseconds) {
    pollfd ready{pidfd, POLLIN, 0};
    const int timeout = static_cast<int>(std::min<std::uint32_t>(milliseconds, INT_MAX));
    int got;
    do {
        got = ::poll(&ready, 1, timeout);
    } while (got < 0 && errno == EINTR);
    if (got < 0 || (ready.revents & POLLNVAL) != 0) {
        return std::nullopt;
    }
    return got > 0 && (ready.revents & (POLLIN | POLLHUP)) != 0;
}

int PidfdOpenError() {
    errno = 0;
    const UniqueFd own = OpenPidfd(::getpid());
    // A failure that left no errno value is a failure all the same.
    return own ? 0 : (errno != 0 ? errno : EINVAL);
}

std::string PidfdMissingText(int error) {
    const char* name = ::strerrorname_np(error);
    std::string text =
        "pidfd_open fails on the service's own process: " + std::string(std::strerror(error)) +
        " (" + (name != nullptr ? name : "errno " + std::to_string(error)) + ")";
    if (error == ENOSYS) {
        text += ", this kernel lacks it (Linux 5.3 or later needed)";
    }
    return text + ": the service could not tell its programs from processes later given their "
                  "ids, and does not start";
}

bool PidfdKill(int pidfd) {
    return PidfdSendSignal(pidfd, SIGKILL) == 0;
}

bool PidfdTerminate(int pidfd) {
    return PidfdSendSignal(pidfd, SIGTERM) == 0;
}

std::optional<std::uint64_t> PidfdStartTime(pid_t pid, int pidfd) {
    const auto text = ReadSmallFile(ProcPath(pid, "stat"));
    const auto stat = text ? ParseProcStat(*text) : std::nullopt;
    // Asked after the read: the file read was this process's only while it still holds pid.
    if (!stat || !PidfdHoldsPid(pidfd)) {
        return std::nullopt;
    }
    return stat->startTime;
}

std::optional<std::uint32_t> EndedChildExitCode(int pidfd) {
    siginfo_t info{};
    // WNOWAIT leaves the child to the loop that reaps it.
    if (::waitid(P_PIDFD, static_cast<id_t>(pidfd), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid == 0) {
        return std::nullopt;
    }
    if (info.si_code == CLD_EXITED) {
        return static_cast<std::uint32_t>(info.si_status);
    }
    return 128U + static_cast<std::uint32_t>(info.si_status);
}

} // namespace ostrivan::posix
