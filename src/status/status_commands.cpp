#include "status/status_commands.h"

#include "platform/failure.h"
#include "process/process_identity.h"
#include "status/status_check.h"
#include "status/status_json.h"
#include "status/status_metrics.h"
#include "status/status_table.h"
#include "supervisor/check_clock.h"

#include <algorithm>
#include <exception>
#include <new>

namespace ostrivan {
namespace {

constexpr const char* kStatusCommand = "-status";
constexpr const char* kCheckCommand = "-check";
constexpr const char* kStoppedCommand = "-stopped";
constexpr int kStoppedFailed = 1;

std::optional<std::uint64_t> CreationTimeNow(ProcessApi& api, ProcessId pid) {
    const auto identity = IdentifyProcess(api, pid);
    return identity ? std::optional(identity->creationTime) : std::nullopt;
}

// Creation times now of the service and the programs the file names.
std::map<ProcessId, std::uint64_t> CreationTimesOf(const StatusReport& report, ProcessApi& api) {
    std::map<ProcessId, std::uint64_t> times;
    std::vector<ProcessId> pids{report.servicePid};
    for (const auto& program : report.programs) {
        pids.push_back(program.running ? program.pid : 0);
    }
    for (const ProcessId pid : pids) {
        if (const auto time = pid != 0 ? CreationTimeNow(api, pid) : std::nullopt) {
            times[pid] = *time;
        }
    }
    return times;
}

std::optional<StatusReport> ReadReport(StatusPlatform& platform, std::string& problem) {
    const auto text = platform.ReadStatus();
    if (!text) {
        problem = "cannot read " + platform.StatusPath();
        return std::nullopt;
    }
    auto report = ParseStatusJson(*text);
    if (!report) {
        problem = platform.StatusPath() + " is not a status file of version " +
                  std::to_string(kStatusVersion);
    }
    return report;
}

StatusReading ReadStatus(StatusPlatform& platform, ProcessApi& api) {
    StatusReading reading;
    reading.path = platform.StatusPath();
    reading.report = ReadReport(platform, reading.problem);
    reading.service = platform.QueryService();
    reading.processes = TakeProcessSnapshot(api);
    if (reading.report) {
        reading.creationTimes = CreationTimesOf(*reading.report, api);
    }
    reading.utcNow = UtcSeconds(platform.UtcNow());
    return reading;
}

bool StillRunsNow(ProcessApi& api, ProcessId pid, std::uint64_t creationTime) {
    const auto now = pid != 0 ? CreationTimeNow(api, pid) : std::nullopt;
    return now && (creationTime == 0 || *now == creationTime);
}

// The file as the service would have left it had it stopped: a killed service writes
// nothing more, and its last state would stand for ever.
int MarkStopped(StatusPlatform& platform, ProcessApi& api) {
    std::string problem;
    auto report = platform.HasStatusFolder() ? ReadReport(platform, problem) : std::nullopt;
    if (!report) {
        platform.Print(
            "nothing to mark stopped: " + (problem.empty() ? "no status folder" : problem) + "\n");
        return problem.empty() ? 0 : kStoppedFailed;
    }
    if (StillRunsNow(api, report->servicePid, report->serviceCreationTime)) {
        platform.Print("the service still runs (pid " + std::to_string(report->servicePid) +
                       "): its status stays as it wrote it\n");
        return kStoppedFailed;
    }
    const std::string wasState = report->state;
    report->state = kStateStopped;
    report->writtenUtc = UtcSeconds(platform.UtcNow());
    for (auto& program : report->programs) {
        program.running = program.running && StillRunsNow(api, program.pid, program.creationTime);
    }
    platform.Publish(StatusJson(*report), StatusMetrics(*report));
    platform.Print("status marked stopped (the service, pid " + std::to_string(report->servicePid) +
                   ", had last written \"" + wasState + "\")\n");
    return 0;
}

// What a command prints and returns when it cannot do its work.
int Refuse(const std::string& command, const std::string& reason, StatusPlatform& platform) {
    if (command == kCheckCommand) {
        platform.Print(UnknownCheck(reason).line + "\n");
        return kCheckUnknown;
    }
    platform.Print("o-service " + command + ": " + reason + "\n");
    return command == kStatusCommand ? kStatusUnknown : kStoppedFailed;
}

int Run(const std::vector<std::string>& words, StatusPlatform& platform, ProcessApi& api) {
    const std::string& command = words.front();
    if (words.size() > 1) {
        return Refuse(command, "unexpected argument \"" + words[1] + "\"", platform);
    }
    if (command == kCheckCommand) {
        const CheckResult result = EvaluateCheck(ReadStatus(platform, api));
        platform.Print(result.line + "\n");
        return result.code;
    }
    if (command == kStatusCommand) {
        const StatusTable table = FormatStatusTable(ReadStatus(platform, api));
        platform.Print(table.text);
        return table.code;
    }
    return MarkStopped(platform, api);
}

} // namespace

bool IsStatusCommand(const std::vector<std::string>& words) {
    return !words.empty() && (words.front() == kStatusCommand || words.front() == kCheckCommand ||
                              words.front() == kStoppedCommand);
}

int RunStatusCommand(const std::vector<std::string>& words, StatusPlatform& platform,
                     ProcessApi& api) noexcept {
    static const std::string kNone;
    const std::string& command = words.empty() ? kNone : words.front();
    // A failure while telling of a failure (out of memory) leaves the exit code alone to tell.
    try {
        try {
            return Run(words, platform, api);
        } catch (const Failure& failure) {
            return Refuse(command, failure.Description(), platform);
        } catch (const std::bad_alloc&) {
            return Refuse(command, "out of memory", platform);
        } catch (const std::exception& error) {
            return Refuse(command, error.what(), platform);
        }
    } catch (const std::exception&) {
        return command == kCheckCommand ? kCheckUnknown : kStatusUnknown;
    }
}

std::vector<std::string> ArgumentWords(std::string_view text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while ((at = text.find_first_not_of(" \t", at)) != std::string_view::npos) {
        const std::size_t end = std::min(text.find_first_of(" \t", at), text.size());
        words.emplace_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

} // namespace ostrivan
