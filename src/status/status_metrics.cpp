#include "status/status_metrics.h"

#include <cstdint>
#include <initializer_list>
#include <utility>

namespace ostrivan {
namespace {

class Exposition {
public:
    void Family(const char* name, const char* type, const char* help) {
        name_ = name;
        text_ += std::string("# HELP ") + name + " " + help + "\n";
        text_ += std::string("# TYPE ") + name + " " + type + "\n";
    }
    void Sample(std::int64_t value) { text_ += name_ + " " + std::to_string(value) + "\n"; }
    void Sample(const char* label, const std::string& labelValue, std::int64_t value) {
        Sample({{label, labelValue}}, value);
    }
    void Sample(std::initializer_list<std::pair<const char*, std::string>> labels,
                std::int64_t value) {
        std::string pairs;
        for (const auto& [label, labelValue] : labels) {
            pairs += (pairs.empty() ? "" : ",") + std::string(label) + "=\"" + Escaped(labelValue) +
                     "\"";
        }
        text_ += name_ + "{" + pairs + "} " + std::to_string(value) + "\n";
    }
    const std::string& Text() const { return text_; }

private:
    static std::string Escaped(const std::string& value) {
        std::string escaped;
        for (const char c : value) {
            if (c == '\\' || c == '"') {
                escaped += '\\';
            }
            escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
        }
        return escaped;
    }

    std::string name_;
    std::string text_;
};

std::int64_t Signed(std::uint64_t value) {
    return static_cast<std::int64_t>(value);
}

void ServiceFamilies(Exposition& out, const StatusReport& report) {
    out.Family("ostrivan_up", "gauge", "1 while the service runs, paused or not; 0 once stopped.");
    out.Sample(report.state == kStateStopped ? 0 : 1);
    out.Family("ostrivan_paused", "gauge", "1 while the service is paused.");
    out.Sample(report.state == kStatePaused ? 1 : 0);
    out.Family("ostrivan_start_time_seconds", "gauge", "When the service started, in Unix time.");
    out.Sample(report.startedUtc);
    if (report.runningSinceUtc) {
        out.Family("ostrivan_running_since_timestamp_seconds", "gauge",
                   "When the service last became running (its start or a continue), in Unix "
                   "time: sweeps are due from then on.");
        out.Sample(*report.runningSinceUtc);
    }
    out.Family("ostrivan_status_written_timestamp_seconds", "gauge",
               "When the service last wrote its status, in Unix time.");
    out.Sample(report.writtenUtc);
    if (report.lastSweepUtc) {
        out.Family("ostrivan_last_sweep_timestamp_seconds", "gauge",
                   "When the last sweep ran, in Unix time.");
        out.Sample(*report.lastSweepUtc);
    }
    out.Family("ostrivan_sweep_interval_seconds", "gauge", "Time between two sweeps.");
    out.Sample(report.intervalSeconds);
}

void ProgramFamilies(Exposition& out, const StatusReport& report) {
    out.Family("ostrivan_program_running", "gauge",
               "1 when the last sweep found the suite program running.");
    for (const auto& program : report.programs) {
        out.Sample("program", program.name, program.running ? 1 : 0);
    }
    out.Family("ostrivan_program_launched_by_service", "gauge",
               "1 when the running copy is the one the service launched.");
    for (const auto& program : report.programs) {
        out.Sample("program", program.name, program.launchedByService ? 1 : 0);
    }
    out.Family("ostrivan_program_start_time_seconds", "gauge",
               "When the running copy started, in Unix time.");
    for (const auto& program : report.programs) {
        if (program.running && program.sinceUtc) {
            out.Sample("program", program.name, *program.sinceUtc);
        }
    }
    out.Family("ostrivan_program_working_set_bytes", "gauge", "Working set of the running copy.");
    for (const auto& program : report.programs) {
        if (program.running) {
            out.Sample("program", program.name, Signed(program.workingSet));
        }
    }
}

void ManagerFamilies(Exposition& out, const StatusReport& report) {
    out.Family("ostrivan_manager_relaunches_total", "counter",
               "Relaunches of the manager since the service started.");
    out.Sample(Signed(report.manager.relaunches));
    if (report.manager.lastRelaunchUtc) {
        out.Family("ostrivan_manager_last_relaunch_timestamp_seconds", "gauge",
                   "When the manager was last relaunched, in Unix time.");
        out.Sample(*report.manager.lastRelaunchUtc);
    }
    out.Family("ostrivan_manager_working_set_bytes", "gauge",
               "Working set of the manager the service launched.");
    out.Sample(Signed(report.manager.workingSet));
    out.Family("ostrivan_manager_working_set_ceiling_bytes", "gauge",
               "Working set past which the manager is relaunched.");
    out.Sample(Signed(report.manager.ceiling));
}

void SweepFamilies(Exposition& out, const StatusReport& report) {
    out.Family("ostrivan_pending_tools", "gauge", "Short-lived tools the next sweep terminates.");
    out.Sample(static_cast<std::int64_t>(report.pendingTools.size()));
    std::int64_t overdue = 0;
    for (const auto& check : report.checks) {
        overdue += check.overdue ? 1 : 0;
    }
    out.Family("ostrivan_tracked_checks", "gauge", "Check programs being timed.");
    out.Sample(static_cast<std::int64_t>(report.checks.size()));
    out.Family("ostrivan_overdue_checks", "gauge", "Tracked check programs marked overdue.");
    out.Sample(overdue);
    // Overdue runs only: every short run under a label of its own would flood the series.
    out.Family("ostrivan_overdue_check_first_seen_timestamp_seconds", "gauge",
               "When each run marked overdue was first seen, in Unix time.");
    for (const auto& check : report.checks) {
        if (check.overdue) {
            out.Sample({{"program", check.name}, {"pid", std::to_string(check.pid)}},
                       check.firstSeenUtc);
        }
    }
    out.Family("ostrivan_terminations_total", "counter",
               "Processes the service terminated since it started, by reason.");
    for (const auto& [reason, count] : report.terminations) {
        out.Sample("reason", reason, Signed(count));
    }
    out.Family("ostrivan_stop_requests_total", "counter",
               "Suite programs the service asked to end when it stopped.");
    out.Sample(Signed(report.stopRequests.asked));
    out.Family("ostrivan_stop_requests_ended_total", "counter",
               "Suite programs that ended when asked, within the grace period, unterminated.");
    out.Sample(Signed(report.stopRequests.endedInTime));
    out.Family("ostrivan_terminations_refused_total", "counter",
               "Terminations the system refused the service since it started, by reason.");
    for (const auto& [reason, count] : report.refusals) {
        out.Sample("reason", reason, Signed(count));
    }
}

} // namespace

std::string StatusMetrics(const StatusReport& report) {
    Exposition out;
    ServiceFamilies(out, report);
    ProgramFamilies(out, report);
    ManagerFamilies(out, report);
    SweepFamilies(out, report);
    return out.Text();
}

} // namespace ostrivan
