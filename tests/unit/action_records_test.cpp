#include "supervisor_fixture.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <set>

namespace ostrivan::testing {
namespace {

constexpr std::uint64_t kOverCeiling = 262'144'001;

// A start, five sweeps and a stop that between them take every kind of action; the status
// file counts them.
TEST_F(SupervisorTest, EveryActionIsRecordedWithItsReason) {
    s.status.KeepFolder(true);
    s.runtime.SetNow({2026, 1, 15, 10, 0, 0, 0});
    const ProcessId skype = s.processes.Add("skype.exe");
    fakes::FakeProcess guarded;
    guarded.imageName = "vantorelle_rule.exe";
    guarded.onlyAccess = std::set<std::uint32_t>{access::kQueryLimitedInformation};
    const ProcessId rule = s.processes.Add(guarded).id;
    fakes::FakeProcess stubborn;
    stubborn.imageName = "klaxo_msn.exe";
    stubborn.refusesTermination = true;
    const ProcessId msn = s.processes.Add(stubborn).id;
    HostFlag success = kHostFalse;
    s.form.OnStart(success);
    const ProcessId alerts = s.processes.RunningNamed("o-alerts.exe").front();
    const ProcessId watcher = s.processes.RunningNamed("vantorelle_watcher.exe").front();
    const ProcessId check = s.processes.Add("nightly_check.exe");
    const ProcessId rrd = s.processes.Add("RRDTOOL.EXE");
    const ProcessId gone = s.processes.Add("rrdtool.exe");

    Tick(30s); // 10:00:30, the check program's first sighting
    const ProcessId ended = s.form.State().ManagerPid.id;
    s.processes.Exit(ended, 3, /*heldElsewhere=*/true);
    s.processes.Remove(gone);
    Tick();
    const ProcessId grown = s.form.State().ManagerPid.id;
    s.processes.At(grown).workingSet = kOverCeiling;
    Tick();
    const ProcessId fresh = s.form.State().ManagerPid.id;
    Tick(); // marks the check program
    Tick(); // ends it
    s.form.OnStop();

    const auto L = Action::Launched;
    const auto T = Action::Terminated;
    const auto R = Action::TerminationRefused;
    const char* manager = "vantorelle_manager.exe";
    const ActionRecord table[] = {
        {L, ActionReason::StartUp, "o-alerts.exe", "", alerts, 0, 0, 0},
        {L, ActionReason::StartUp, "vantorelle_watcher.exe", "900", watcher, 0, 0, 0},
        {L, ActionReason::ManagerFirstLaunch, manager, "", ended, 0, 0, 0},
        {T, ActionReason::StartupList, "skype.exe", "", skype, 0, 0, 0},
        {L, ActionReason::ManagerEnded, manager, "", grown, 3, 0, 0},
        {T, ActionReason::ShortLivedTool, "rrdtool.exe", "", rrd, 0, 0, 0},
        {Action::AlreadyGone, ActionReason::ShortLivedTool, "", "", gone, 0, 0, 0},
        {R, ActionReason::ShortLivedTool, "klaxo_msn.exe", "", msn, 0, 0, 0},
        {T, ActionReason::ManagerOverCeiling, manager, "", grown, 259, kOverCeiling, 0},
        {L, ActionReason::ManagerOverCeiling, manager, "", fresh, 0, kOverCeiling, 0},
        {T, ActionReason::OverdueCheck, "nightly_check.exe", "", check, 3, 0, 1'768'471'230},
        {T, ActionReason::ShutdownList, "o-alerts.exe", "", alerts, 0, 0, 0},
        {R, ActionReason::ShutdownList, "vantorelle_rule.exe", "", rule, 0, 0, 0},
    };
    for (const auto& row : table) {
        EXPECT_THAT(s.actions.Records(), ::testing::Contains(row))
            << row.program << ", reason " << static_cast<int>(row.reason);
    }
    EXPECT_EQ(s.actions.SweepsEnded(), 5);

    const auto status = nlohmann::json::parse(s.status.Status().value());
    EXPECT_EQ(status["manager"]["relaunches"], 2); // the first launch is no relaunch
    EXPECT_EQ(status["manager"]["lastRelaunchReason"], "manager_over_ceiling");
    for (const char* reason :
         {"short_lived_tool", "overdue_check", "startup_list", "manager_over_ceiling"}) {
        EXPECT_EQ(status["terminations"][reason], 1) << reason;
    }
    // The stubborn tool, refused by each sweep after the first.
    EXPECT_EQ(status["refusals"]["byReason"]["short_lived_tool"], 4);
    EXPECT_EQ(status["refusals"]["last"]["pid"], rule);
}

TEST_F(SupervisorTest, ASweepThatFailsStillEndsInTheActionLog) {
    s.runtime.RemoveProgram("vantorelle_manager.exe");
    Tick(); // the manager cannot be launched: the sweep ends with a report
    ASSERT_EQ(Events().size(), 1u);
    EXPECT_EQ(s.actions.SweepsEnded(), 1);
}

} // namespace
} // namespace ostrivan::testing
