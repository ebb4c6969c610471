#pragma once

#include "platform/process_api.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ostrivan {

inline constexpr int kStatusVersion = 2;

// The service's own state, as the status file names it.
inline constexpr const char* kStateStarting = "starting";
inline constexpr const char* kStateRunning = "running";
inline constexpr const char* kStatePaused = "paused";
inline constexpr const char* kStateStopped = "stopped";

// One program of the suite, as the last snapshot found it by name.
struct ProgramStatus {
    std::string name;
    bool running = false;
    ProcessId pid = 0;
    // With the pid it names the process for good, for readers that cannot see its name.
    std::uint64_t creationTime = 0;
    std::optional<std::int64_t> sinceUtc;
    std::uint64_t workingSet = 0;
    bool launchedByService = false;
};

struct ManagerStatus {
    ProcessId pid = 0; // the manager the keeper launched last
    std::uint64_t workingSet = 0;
    std::uint64_t ceiling = 0;
    std::uint64_t relaunches = 0;
    std::optional<std::string> lastReason;
    std::optional<std::int64_t> lastRelaunchUtc;
};

struct PendingTool {
    ProcessId pid = 0;
    std::string name;
};

// One run of a check program; several runs of one name are tracked apart.
struct TrackedCheck {
    ProcessId pid = 0;
    std::string name;
    std::int64_t firstSeenUtc = 0;
    bool overdue = false;
};

// The suite's programs asked to end at a stop, and those that ended within the grace
// period; what the shutdown list then terminated is counted among the terminations.
struct StopRequests {
    std::uint64_t asked = 0;
    std::uint64_t endedInTime = 0;
};

// The last termination the platform refused.
struct RefusedTermination {
    std::int64_t utc = 0;
    std::string reason;
    std::string program;
    ProcessId pid = 0;
};

// Everything the status file holds. Times are seconds since 1970-01-01 00:00 UTC.
struct StatusReport {
    int version = kStatusVersion;
    std::string state = kStateStarting;
    ProcessId servicePid = 0;
    std::uint64_t serviceCreationTime = 0;
    std::int64_t startedUtc = 0;
    // When the service last became running (its start, or a continue): sweeps are due from
    // then on.
    std::optional<std::int64_t> runningSinceUtc;
    std::int64_t writtenUtc = 0;
    std::optional<std::int64_t> lastSweepUtc;
    std::int64_t intervalSeconds = 0;
    std::vector<ProgramStatus> programs;
    ManagerStatus manager;
    std::vector<PendingTool> pendingTools;
    std::vector<TrackedCheck> checks;
    // Terminations since start, by reason.
    std::map<std::string, std::uint64_t> terminations;
    StopRequests stopRequests;
    // Terminations the platform refused since start, by reason, and the last of them.
    std::map<std::string, std::uint64_t> refusals;
    std::optional<RefusedTermination> lastRefusal;
};

} // namespace ostrivan
