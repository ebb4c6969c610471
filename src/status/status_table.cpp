#include "status/status_table.h"

#include <cstdio>

namespace ostrivan {
namespace {

std::string Duration(std::int64_t seconds) {
    if (seconds < 0) {
        seconds = 0;
    }
    char text[32];
    if (seconds < 3600) {
        std::snprintf(text, sizeof text, "%lldm%02llds", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    } else if (seconds < 86400) {
        std::snprintf(text, sizeof text, "%lldh%02lldm", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds % 3600 / 60));
    } else {
        std::snprintf(text, sizeof text, "%lldd%02lldh", static_cast<long long>(seconds / 86400),
                      static_cast<long long>(seconds % 86400 / 3600));
    }
    return text;
}

std::string Mebibytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

std::string Row(const std::string& name, const std::string& state, const std::string& pid,
                const std::string& uptime, const std::string& memory) {
    char text[160];
    std::snprintf(text, sizeof text, "%-26s %-9s %-8s %-10s %s\n", name.c_str(), state.c_str(),
                  pid.c_str(), uptime.c_str(), memory.c_str());
    return text;
}

std::string ServiceLine(const StatusReading& reading) {
    std::string state = !ServiceRuns(reading)    ? "not running"
                        : ServicePaused(reading) ? "paused"
                                                 : "running";
    std::string line = "Service: " + state;
    if (!reading.service.detail.empty()) {
        line += " (" + reading.service.detail + ")";
    }
    if (reading.service.pid != 0) {
        line += ", pid " + std::to_string(reading.service.pid);
    }
    return line + "\n";
}

std::string ProgramRows(const StatusReading& reading) {
    const std::int64_t now = ReferenceTime(reading);
    std::string rows = Row("PROGRAM", "STATE", "PID", "UPTIME", "MEMORY");
    for (const auto& program : reading.report->programs) {
        if (StillRuns(reading, program)) {
            rows += Row(program.name, "running", std::to_string(program.pid),
                        program.sinceUtc ? Duration(now - *program.sinceUtc) : "-",
                        Mebibytes(program.workingSet));
        } else {
            rows += Row(program.name, program.running ? "gone" : "stopped", "-", "-", "-");
        }
    }
    return rows;
}

std::string Details(const StatusReading& reading) {
    const StatusReport& report = *reading.report;
    const std::int64_t now = ReferenceTime(reading);
    std::string text = "Manager: pid " + std::to_string(report.manager.pid) + ", " +
                       std::to_string(report.manager.relaunches) + " relaunches";
    if (report.manager.lastReason && report.manager.lastRelaunchUtc) {
        text += ", last " + Duration(now - *report.manager.lastRelaunchUtc) + " ago (" +
                *report.manager.lastReason + ")";
    }
    text += ", ceiling " + Mebibytes(report.manager.ceiling) + "\n";
    text += "Pending tools:";
    for (const auto& tool : report.pendingTools) {
        text += " " + tool.name + " (pid " + std::to_string(tool.pid) + ")";
    }
    text += report.pendingTools.empty() ? " none\n" : "\n";
    text += "Tracked checks:";
    for (const auto& check : report.checks) {
        text += " " + check.name + " (pid " + std::to_string(check.pid) + ", seen " +
                Duration(now - check.firstSeenUtc) + " ago" + (check.overdue ? ", overdue)" : ")");
    }
    text += report.checks.empty() ? " none\n" : "\n";
    text += "Terminations since start:";
    for (const auto& [reason, count] : report.terminations) {
        text += " " + reason + " " + std::to_string(count);
    }
    text += "\nRefused since start:";
    for (const auto& [reason, count] : report.refusals) {
        text += " " + reason + " " + std::to_string(count);
    }
    if (const auto& refusal = report.lastRefusal) {
        text += "; last " + refusal->program + " (pid " + std::to_string(refusal->pid) + "), " +
                Duration(now - refusal->utc) + " ago";
    }
    return text + "\n";
}

} // namespace

StatusTable FormatStatusTable(const StatusReading& reading) {
    StatusTable table;
    table.text = ServiceLine(reading);
    if (!reading.report) {
        table.text += "Status file: " + reading.problem + "\n";
        const bool stopped = reading.service.state == ServiceView::Stopped ||
                             reading.service.state == ServiceView::NotInstalled;
        table.code = stopped ? kStatusNotRunning : kStatusUnknown;
        return table;
    }
    const StatusReport& report = *reading.report;
    table.text += "Status file: " + reading.path + ", written " +
                  Duration(reading.utcNow - report.writtenUtc) + " ago, state " + report.state +
                  "\n";
    table.text +=
        "Last sweep: " + (report.lastSweepUtc ? Duration(SweepAge(reading)) + " ago" : "none yet") +
        ", every " + std::to_string(report.intervalSeconds) + " s\n\n";
    table.text += ProgramRows(reading) + "\n" + Details(reading);
    table.code = ServiceRuns(reading) ? kStatusRunning : kStatusNotRunning;
    return table;
}

} // namespace ostrivan
