#include "status/status_reading.h"

#include <algorithm>

namespace ostrivan {

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
    return std::any_of(
        reading.processes.begin(), reading.processes.end(),
        [&](const ProcessEntry& entry) { return entry.ProcessId == reading.report->servicePid; });
}

bool ServicePaused(const StatusReading& reading) {
    return reading.service.state == ServiceView::Paused ||
           (ServiceRuns(reading) && reading.report && reading.report->state == kStatePaused);
}

bool StillRuns(const StatusReading& reading, const ProgramStatus& program) {
    return program.running && std::any_of(reading.processes.begin(), reading.processes.end(),
                                          [&](const ProcessEntry& entry) {
                                              return entry.ProcessId == program.pid &&
                                                     entry.Name == program.name;
                                          });
}

std::int64_t ReferenceTime(const StatusReading& reading) {
    return reading.report ? std::max(reading.utcNow, reading.report->writtenUtc) : reading.utcNow;
}

std::int64_t SweepAge(const StatusReading& reading) {
    if (!reading.report) {
        return 0;
    }
    return ReferenceTime(reading) -
           reading.report->lastSweepUtc.value_or(reading.report->startedUtc);
}

} // namespace ostrivan
