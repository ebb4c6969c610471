#include "status/status_reading.h"

#include <algorithm>

namespace ostrivan {
namespace {

// The length the kernel cuts a name to where a process's executable cannot be read.
constexpr std::size_t kShortNameLength = 15;

// The pid still names the process recorded with `creationTime`; an account that cannot read
// the creation time compares the name the process table shows it.
bool StillNamed(const StatusReading& reading, ProcessId pid, std::uint64_t creationTime,
                const std::string& name) {
    const auto found = reading.creationTimes.find(pid);
    if (found != reading.creationTimes.end() && creationTime != 0) {
        return found->second == creationTime;
    }
    return std::any_of(
        reading.processes.begin(), reading.processes.end(), [&](const ProcessEntry& entry) {
            return entry.ProcessId == pid &&
                   (name.empty() || entry.Name == name ||
                    (entry.Name.size() == kShortNameLength && name.starts_with(entry.Name)));
        });
}

} // namespace

bool ServiceRuns(const StatusReading& reading) {
    switch (reading.service.state) {
    case ServiceView::Running:
    case ServiceView::Paused:
        return true;
    case ServiceView::Stopped:
        return false;
    case ServiceView::NotInstalled:
    case ServiceView::Unknown:
        break;
    }
    // A run the service manager does not know of (in the foreground): its process is asked.
    if (!reading.report || reading.report->state == kStateStopped) {
        return false;
    }
    return StillNamed(reading, reading.report->servicePid, reading.report->serviceCreationTime, "");
}

bool ServicePaused(const StatusReading& reading) {
    return reading.service.state == ServiceView::Paused ||
           (ServiceRuns(reading) && reading.report && reading.report->state == kStatePaused);
}

bool StillRuns(const StatusReading& reading, const ProgramStatus& program) {
    return program.running && StillNamed(reading, program.pid, program.creationTime, program.name);
}

std::int64_t ReferenceTime(const StatusReading& reading) {
    return reading.report ? std::max(reading.utcNow, reading.report->writtenUtc) : reading.utcNow;
}

std::int64_t SweepAge(const StatusReading& reading) {
    if (!reading.report) {
        return 0;
    }
    // A sweep the file puts later than its own writing (a clock set back between) is now.
    return std::max<std::int64_t>(0, ReferenceTime(reading) - reading.report->lastSweepUtc.value_or(
                                                                  reading.report->startedUtc));
}

std::int64_t SweepWait(const StatusReading& reading) {
    if (!reading.report || !reading.report->runningSinceUtc) {
        return SweepAge(reading);
    }
    return std::min(SweepAge(reading), ReferenceTime(reading) - *reading.report->runningSinceUtc);
}

} // namespace ostrivan
