#pragma once

#include "platform/posix/unique_fd.h"

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace ostrivan::posix {

// A descriptor that names one process for good: signals sent through it never reach a
// process that later received the same id. It does not keep the id from being handed on
// once that process is reaped, so whatever is checked about the process must be checked
// on the descriptor that then acts. Only a child not reaped yet is sure to be the process
// its id was given to.
UniqueFd OpenPidfd(pid_t pid);

// True while the process still holds its id: running, or ended and not yet reaped. Reads
// of /proc/PID made before this answers true came from this very process.
bool PidfdHoldsPid(int pidfd);

// True once the process has ended (a zombie, or reaped).
bool PidfdEnded(int pidfd);
// Waits up to `milliseconds` (at most INT_MAX) for the process to end: true once it has,
// false while it runs, nothing when the descriptor cannot be polled.
std::optional<bool> PidfdWaitEnded(int pidfd, std::uint32_t milliseconds);

// 0 when pidfd_open works on this process, else the errno value of its failure: ENOSYS on a
// kernel before Linux 5.3, EPERM or anything else where a system-call filter refuses it.
// Without it nothing could tell a process from one that was later handed its id.
int PidfdOpenError();
// The one line that says why the service does not start without pidfd_open.
std::string PidfdMissingText(int error);

bool PidfdKill(int pidfd);
// Asks the process to end: SIGTERM, which it may catch to end in its own way, or ignore.
bool PidfdTerminate(int pidfd);

// The start time in /proc/PID/stat, in clock ticks since boot, of the process `pidfd`
// refers to; nothing once that process no longer holds `pid`.
std::optional<std::uint64_t> PidfdStartTime(pid_t pid, int pidfd);

// The exit code of an ended child of this process that has not been reaped yet; a child
// ended by a signal reads as 128 + the signal, as shells report it. Nothing otherwise.
std::optional<std::uint32_t> EndedChildExitCode(int pidfd);

} // namespace ostrivan::posix
