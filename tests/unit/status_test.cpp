#include "supervisor_fixture.h"

#include "status/status_check.h"
#include "status/status_json.h"
#include "status/status_table.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <functional>

namespace ostrivan::testing {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;

// A failed write is reported once, until a write succeeds again.
TEST_F(SupervisorTest, StatusFileHoldsTheSweepsSnapshotAndTablesAndAFailedWriteIsReportedOnce) {
    s.status.KeepFolder(true);
    HostFlag started = kHostFalse;
    s.form.OnStart(started);
    const ProcessId manager = s.form.State().ManagerPid.id;
    s.processes.At(manager).workingSet = 123'456'789;
    const ProcessId tool = s.processes.Add("rrdtool.exe");
    const ProcessId check = s.processes.Add("disk_check.exe");
    const int snapshots = Snapshots();
    Tick();
    EXPECT_EQ(Snapshots(), snapshots + 1); // the status reuses the sweep's own snapshot
    const json status = json::parse(s.status.Status().value());
    // Read back as the readers read it: nothing written is lost on the way.
    const auto report = ParseStatusJson(s.status.Status().value());
    ASSERT_TRUE(report);
    EXPECT_EQ(StatusJson(*report), s.status.Status().value());
    EXPECT_EQ(report->manager.pid, manager);
    EXPECT_EQ(status["programs"][3]["pid"], manager);
    EXPECT_EQ(status["manager"]["workingSetBytes"], 123'456'789);
    EXPECT_EQ(status["pendingTools"],
              json::parse(R"([{"pid":)" + std::to_string(tool) + R"(,"name":"rrdtool.exe"}])"));
    EXPECT_EQ(status["checks"],
              json::parse(R"([{"pid":)" + std::to_string(check) +
                          R"(,"name":"disk_check.exe","firstSeenUtc":)" +
                          std::to_string(s.status.UtcNow() / 1000) + R"(,"overdue":false}])"));

    for (const bool fail : {true, true, false, true}) {
        s.status.FailWrites(fail);
        Tick();
    }
    ASSERT_EQ(Events().size(), 2u);
    EXPECT_EQ(Events()[0].text, "[5] Access is denied");
}

constexpr std::int64_t kNow = 1'700'000'000;

StatusReading HealthyReading() {
    StatusReading reading;
    reading.path = "status.json";
    reading.service = {ServiceView::Running, 7, "running"};
    reading.utcNow = kNow;
    StatusReport report;
    report.state = kStateRunning;
    report.servicePid = 7;
    report.startedUtc = kNow - 3600;
    report.writtenUtc = kNow - 30;
    report.lastSweepUtc = kNow - 30;
    report.intervalSeconds = 60;
    report.manager = {104, 50'000'000, 262'144'000, 0, std::nullopt, std::nullopt};
    report.terminations = {{"short_lived_tool", 2}};
    for (std::size_t i = 0; i < kSuiteFolder.size(); ++i) {
        const auto pid = static_cast<ProcessId>(101 + i);
        report.programs.push_back({kSuiteFolder[i], true, pid, pid, kNow - 600, 1'000'000, true});
        reading.processes.push_back({pid, kSuiteFolder[i]});
        reading.creationTimes[pid] = pid;
    }
    reading.processes.push_back({7, "o-service.exe"});
    reading.report = report;
    return reading;
}

void RemoveProcess(StatusReading& r, ProcessId pid) {
    std::erase_if(r.processes, [pid](const ProcessEntry& e) { return e.ProcessId == pid; });
    r.creationTimes.erase(pid);
}

// What an account other than the service's reads: no creation times, 15-character names.
void ReadUnprivileged(StatusReading& r) {
    r.creationTimes.clear();
    for (auto& entry : r.processes) {
        entry.Name = entry.Name.substr(0, 15);
    }
}

struct ReadingCase {
    std::function<void(StatusReading&)> change;
    int check;
    const char* text;
    int status; // the LSB code of -status
};

class StatusRules : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(StatusRules, GiveTheCheckAndStatusCodes) {
    StatusReading reading = HealthyReading();
    GetParam().change(reading);
    const CheckResult check = EvaluateCheck(reading);
    EXPECT_EQ(check.code, GetParam().check) << check.line;
    EXPECT_THAT(check.line, HasSubstr(GetParam().text));
    EXPECT_EQ(check.line.find('|') != std::string::npos, reading.report.has_value())
        << "performance data only with figures read from the file: " << check.line;
    EXPECT_EQ(FormatStatusTable(reading).code, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusRules,
    ::testing::Values(
        ReadingCase{
            [](StatusReading&) {}, kCheckOk,
            "OSTRIVAN OK - 5/5 programs running, last sweep 30 s ago | programs_running=5;;;"
            "0;5 sweep_age=30s;;180;0; manager_relaunches=0c manager_working_set=50000000B;;"
            "262144000;0; terminations_short_lived_tool=2c terminations_refused=0c",
            kStatusRunning},
        ReadingCase{[](StatusReading& r) {
                        r.report.reset();
                        r.problem = "cannot read status.json";
                    },
                    kCheckUnknown, "OSTRIVAN UNKNOWN - cannot read status.json", kStatusUnknown},
        ReadingCase{ReadUnprivileged, kCheckOk, "OK - 5/5 programs running", kStatusRunning},
        ReadingCase{[](StatusReading& r) {
                        ReadUnprivileged(r);
                        r.processes[3].Name = "vantorelle_snmp"; // another program's pid now
                    },
                    kCheckCritical, "no manager runs", kStatusRunning},
        ReadingCase{[](StatusReading& r) { r.creationTimes[104] = 1; }, kCheckCritical,
                    "no manager runs", kStatusRunning}, // its pid reused: the name is no proof
        ReadingCase{[](StatusReading& r) {
                        r.report->lastSweepUtc = kNow - 5000; // a pause of over an hour
                        r.report->runningSinceUtc = kNow - 5; // continued just now
                    },
                    kCheckOk, "OK - 5/5 programs running, last sweep 5000 s ago", kStatusRunning},
        ReadingCase{
            [](StatusReading& r) {
                r.report->refusals["short_lived_tool"] = 1;
                r.report->lastRefusal = {kNow - 120, "short_lived_tool", "klaxo_msn.exe", 812};
            },
            kCheckWarning,
            "WARNING - termination of klaxo_msn.exe (pid 812) refused 120 s ago "
            "(short_lived_tool) | ",
            kStatusRunning},
        ReadingCase{[](StatusReading& r) {
                        r.report->state = kStatePaused;
                        r.report->lastSweepUtc = kNow - 5000;
                    },
                    kCheckWarning, "WARNING - paused", kStatusRunning},
        ReadingCase{[](StatusReading& r) { r.report->lastSweepUtc = kNow - 181; }, kCheckCritical,
                    "CRITICAL - no sweep for 181 s", kStatusRunning},
        ReadingCase{[](StatusReading& r) { RemoveProcess(r, 104); }, kCheckCritical,
                    "CRITICAL - no manager runs, vantorelle_manager.exe not running",
                    kStatusRunning},
        ReadingCase{[](StatusReading& r) { RemoveProcess(r, 101); }, kCheckWarning,
                    "WARNING - o-alerts.exe not running", kStatusRunning},
        ReadingCase{[](StatusReading& r) {
                        r.report->manager.relaunches = 1;
                        r.report->manager.lastReason = "manager_ended";
                        r.report->manager.lastRelaunchUtc = kNow - 600;
                    },
                    kCheckWarning, "manager relaunched 600 s ago (manager_ended)", kStatusRunning},
        ReadingCase{[](StatusReading& r) {
                        r.service = {ServiceView::Unknown, 0, ""};
                        RemoveProcess(r, 7);
                    },
                    kCheckCritical, "not running", kStatusNotRunning}));

} // namespace
} // namespace ostrivan::testing
