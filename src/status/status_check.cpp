#include "status/status_check.h"

#include "supervisor/suite_programs.h"

#include <algorithm>
#include <vector>

namespace ostrivan {
namespace {

constexpr std::int64_t kSilentIntervals = 3;
constexpr std::int64_t kRecentRelaunch = 3600;
constexpr std::int64_t kRecentRefusal = 3600;
constexpr std::size_t kSuiteSize = suite::kLaunchedPrograms.size();

struct Findings {
    std::vector<std::string> critical;
    std::vector<std::string> warning;
};

std::size_t ProgramsRunning(const StatusReading& reading) {
    return static_cast<std::size_t>(
        std::count_if(reading.report->programs.begin(), reading.report->programs.end(),
                      [&](const ProgramStatus& program) { return StillRuns(reading, program); }));
}

bool ManagerRuns(const StatusReading& reading) {
    const auto& programs = reading.report->programs;
    return std::any_of(programs.begin(), programs.end(), [&](const ProgramStatus& program) {
        return program.name == suite::kManager && StillRuns(reading, program);
    });
}

void JudgeRunningService(const StatusReading& reading, Findings& findings) {
    const StatusReport& report = *reading.report;
    const bool paused = ServicePaused(reading);
    const std::int64_t sweepWait = SweepWait(reading);
    if (!paused && report.intervalSeconds > 0 &&
        sweepWait > kSilentIntervals * report.intervalSeconds) {
        findings.critical.push_back("no sweep for " + std::to_string(sweepWait) + " s");
    }
    if (!ManagerRuns(reading)) {
        findings.critical.push_back("no manager runs");
    }
    if (paused) {
        findings.warning.push_back("paused");
    }
    for (const auto& program : report.programs) {
        if (!StillRuns(reading, program)) {
            findings.warning.push_back(program.name + " not running");
        }
    }
    if (report.manager.lastRelaunchUtc) {
        const std::int64_t age = ReferenceTime(reading) - *report.manager.lastRelaunchUtc;
        if (age < kRecentRelaunch) {
            findings.warning.push_back("manager relaunched " + std::to_string(age) + " s ago (" +
                                       report.manager.lastReason.value_or("") + ")");
        }
    }
    if (const auto& refusal = report.lastRefusal) {
        const std::int64_t age = ReferenceTime(reading) - refusal->utc;
        if (age < kRecentRefusal) {
            findings.warning.push_back("termination of " + refusal->program + " (pid " +
                                       std::to_string(refusal->pid) + ") refused " +
                                       std::to_string(age) + " s ago (" + refusal->reason + ")");
        }
    }
}

// A plugin's output is read up to its first line end; the "|" would begin performance data.
std::string OneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line) {
        if (c == '\n' || c == '\r' || c == '|') {
            c = ' ';
        }
    }
    return line;
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) {
        text += (text.empty() ? "" : ", ") + part;
    }
    return text;
}

// Figures read from the file only: without one there are none.
std::string PerformanceData(const StatusReading& reading) {
    if (!reading.report) {
        return "";
    }
    const StatusReport& report = *reading.report;
    std::string data = " | programs_running=" + std::to_string(ProgramsRunning(reading)) + ";;;0;" +
                       std::to_string(kSuiteSize);
    data += " sweep_age=" + std::to_string(SweepAge(reading)) + "s;;" +
            std::to_string(kSilentIntervals * report.intervalSeconds) + ";0;";
    data += " manager_relaunches=" + std::to_string(report.manager.relaunches) + "c";
    data += " manager_working_set=" + std::to_string(report.manager.workingSet) + "B;;" +
            std::to_string(report.manager.ceiling) + ";0;";
    for (const auto& [reason, count] : report.terminations) {
        data += " terminations_" + reason + "=" + std::to_string(count) + "c";
    }
    std::uint64_t refused = 0;
    for (const auto& [reason, count] : report.refusals) {
        refused += count;
    }
    data += " terminations_refused=" + std::to_string(refused) + "c";
    return data;
}

std::string Line(int code, const std::string& summary) {
    static constexpr const char* kNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    return std::string("OSTRIVAN ") + kNames[code] + " - " + OneLine(summary);
}

CheckResult Result(int code, const std::string& summary, const StatusReading& reading) {
    return {code, Line(code, summary) + PerformanceData(reading)};
}

} // namespace

CheckResult UnknownCheck(const std::string& reason) {
    return {kCheckUnknown, Line(kCheckUnknown, reason)};
}

CheckResult EvaluateCheck(const StatusReading& reading) {
    if (!ServiceRuns(reading)) {
        return Result(kCheckCritical, "the service is not running", reading);
    }
    if (!reading.report) {
        return UnknownCheck(reading.problem);
    }
    Findings findings;
    JudgeRunningService(reading, findings);
    if (!findings.critical.empty()) {
        findings.critical.insert(findings.critical.end(), findings.warning.begin(),
                                 findings.warning.end());
        return Result(kCheckCritical, Joined(findings.critical), reading);
    }
    if (!findings.warning.empty()) {
        return Result(kCheckWarning, Joined(findings.warning), reading);
    }
    return Result(kCheckOk,
                  std::to_string(ProgramsRunning(reading)) + "/" + std::to_string(kSuiteSize) +
                      " programs running, last sweep " + std::to_string(SweepAge(reading)) +
                      " s ago",
                  reading);
}

} // namespace ostrivan
