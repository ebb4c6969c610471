#include "fake_platform.h"

#include "status/status_json.h"
#include "status/status_metrics.h"
#include "supervisor/status_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace ostrivan {
namespace {

using fakes::EventLogEntry;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

// One process for every distinct name of the shutdown list, in list order.
const std::vector<std::string> kOnePerEntry = {"o-alerts.exe",
                                               "o-graphs.exe",
                                               "vantorelle_manager.exe",
                                               "vantorelle_rule.exe",
                                               "vantorelle_thread2.exe",
                                               "vantorelle_snmptrap.exe",
                                               "vantorelle_security.exe",
                                               "vantorelle_watcher.exe",
                                               "vantorelle_mana",
                                               "vantorelle_thre",
                                               "vantorelle_watc",
                                               "vantorelle_snmp",
                                               "vantorelle_rule",
                                               "skype.exe",
                                               "skypepm.exe",
                                               "klaxo_voicephon",
                                               "klaxo_voicephone.exe",
                                               "security_check.",
                                               "security_check.exe"};

class ShutdownTest : public ::testing::Test {
protected:
    void SetUp() override { s.form.Load(); }

    void TearDown() override {
        EXPECT_EQ(s.processes.OpenHandleCount(), 0u) << "a handle was left open";
        EXPECT_EQ(s.processes.BadCloses(), 0);
        EXPECT_FALSE(s.processes.PrivilegeEnabled());
    }

    std::size_t LastIndexOf(const std::string& entry) const {
        const auto& entries = s.log.Entries();
        const auto it = std::find(entries.rbegin(), entries.rend(), entry);
        return it == entries.rend() ? fakes::CallLog::npos
                                    : static_cast<std::size_t>(entries.rend() - it - 1);
    }

    fakes::FakeService s;
};

TEST_F(ShutdownTest, TerminatesTheListInOrderThenUnloads) {
    std::map<std::string, ProcessId> ids;
    // Enumerated in reverse, so that the order of terminations is the list's own.
    for (auto name = kOnePerEntry.rbegin(); name != kOnePerEntry.rend(); ++name) {
        ids[*name] = s.processes.Add(*name);
    }
    std::vector<ProcessId> expected;
    for (const auto& name : kOnePerEntry) {
        expected.push_back(ids[name]);
    }

    s.form.OnStop();

    EXPECT_THAT(s.processes.TerminatedIds(), ElementsAreArray(expected));
    // The request's own snapshot, then one for each entry of the list.
    EXPECT_EQ(s.processes.Calls("CreateToolhelp32Snapshot"), 21);
    EXPECT_THAT(s.processes.Running(), IsEmpty());
    EXPECT_TRUE(s.runtime.Unloaded());
    EXPECT_EQ(s.runtime.UnloadRequests(), 1);
    EXPECT_THAT(s.runtime.MessageBoxes(), IsEmpty()) << "a stopping form is not asked";
    EXPECT_THAT(s.host.Events(), IsEmpty());
}

// Asked first: a program that ends on its own keeps its exit code; one that ignores the
// request, and one that cannot be asked (no window), are left to the list, which runs once
// the grace period is over on the service's clock.
TEST_F(ShutdownTest, AsksTheSuiteFirstAndTerminatesWhatHasNotEndedAfterTheGracePeriod) {
    s.status.KeepFolder(true);
    const ProcessId polite = s.processes.Add("o-alerts.exe");
    s.processes.At(polite).endsWhenAskedAfter = 3s;
    s.processes.At(polite).exitCodeWhenAsked = 5;
    s.processes.At(polite).heldElsewhere = true;
    const ProcessId deaf = s.processes.Add("vantorelle_manager.exe");
    const ProcessId windowless = s.processes.Add("o-graphs.exe");
    s.processes.Faults().Fail("PostCloseRequest", 3);
    const ProcessId side = s.processes.Add("skype.exe");
    const std::int64_t before = s.runtime.MonotonicNow();

    s.form.OnStop();

    EXPECT_EQ(s.processes.At(polite).exitCode, 5u);
    EXPECT_THAT(s.processes.TerminatedIds(), ElementsAre(windowless, deaf, side));
    EXPECT_EQ(s.runtime.MonotonicNow() - before, 10'000) << "the grace period, then the list";
    EXPECT_EQ(s.actions.StopsEnded(), 1);
    // The service manager hears every second how much longer the stop may take.
    const auto& progress = s.host.StopProgress();
    ASSERT_EQ(progress.size(), 9u);
    EXPECT_EQ(progress.front(), 29'000u);
    EXPECT_EQ(progress.back(), 20'000u) << "the list's own time";
    EXPECT_TRUE(std::is_sorted(progress.rbegin(), progress.rend()));
    // Asked and ended in time apart from terminated, in the status file and the metrics.
    const auto report = ParseStatusJson(s.status.Status().value());
    ASSERT_TRUE(report);
    EXPECT_EQ(report->stopRequests.asked, 2u);
    EXPECT_EQ(report->stopRequests.endedInTime, 1u);
    EXPECT_EQ(report->terminations.at("shutdown_list"), 3u);
    const std::string metrics = StatusMetrics(*report);
    EXPECT_THAT(metrics, HasSubstr("\nostrivan_stop_requests_total 2\n"));
    EXPECT_THAT(metrics, HasSubstr("\nostrivan_stop_requests_ended_total 1\n"));
}

TEST_F(ShutdownTest, WaitsOnlyAsLongAsTheSuiteTakes) {
    const std::int64_t before = s.runtime.MonotonicNow();
    s.processes.At(s.processes.Add("o-alerts.exe")).endsWhenAskedAfter = 4s;
    s.processes.At(s.processes.Add("vantorelle_watcher.exe")).endsWhenAskedAfter = 1s;
    s.form.OnStop();
    EXPECT_EQ(s.runtime.MonotonicNow() - before, 4'000);
    EXPECT_THAT(s.processes.Terminations(), IsEmpty());
}

// The snapshot's id now names another program: the request reaches neither.
TEST_F(ShutdownTest, AsksOnlyAProcessThatStillCarriesTheSuitesName) {
    const ProcessId alerts = s.processes.Add("o-alerts.exe");
    fakes::FakeProcess notepad;
    notepad.imageName = "notepad.exe";
    s.processes.ReuseIdAt(alerts, 1, notepad);
    s.form.OnStop();
    EXPECT_THAT(s.actions.Records(), IsEmpty());
}

TEST_F(ShutdownTest, ShowsStoppedFirstAndUnloadsAfterTheLastSnapshot) {
    const std::int64_t before = s.runtime.MonotonicNow();
    s.form.OnStop();
    // Nothing of the suite runs: nothing to wait for.
    EXPECT_EQ(s.runtime.MonotonicNow(), before);
    EXPECT_THAT(s.host.StopProgress(), IsEmpty());

    const auto stopped = s.log.IndexOf("runtime.SetStatusText Configuration Service Stopped");
    const auto firstSnapshot = s.log.IndexOf("api.CreateToolhelp32Snapshot 2 0");
    const auto lastSnapshot = LastIndexOf("api.CreateToolhelp32Snapshot 2 0");
    const auto unload = s.log.IndexOf("runtime.UnloadForm");
    ASSERT_NE(stopped, fakes::CallLog::npos);
    ASSERT_NE(unload, fakes::CallLog::npos);
    EXPECT_LT(stopped, firstSnapshot);
    EXPECT_LT(lastSnapshot, unload);
    EXPECT_EQ(s.runtime.StatusText(), status::kStopped);
    EXPECT_TRUE(s.form.State().IsStopping);
    EXPECT_TRUE(s.runtime.TimerEnabled()) << "the sequence never touches the timer";
}

TEST_F(ShutdownTest, MatchesOnlyTheEndOfTheNameInAnyCase) {
    s.status.KeepFolder(true);
    const ProcessId prefixed = s.processes.Add("Old-O-Alerts.EXE");
    const ProcessId upper = s.processes.Add("VANTORELLE_MANAGER.EXE");
    const ProcessId cutSecurity = s.processes.Add("vantorelle_secu");
    const ProcessId extended = s.processes.Add("vantorelle_watcher.exe.bak");
    const ProcessId unrelated = s.processes.Add("explorer.exe");

    s.form.OnStop();

    EXPECT_FALSE(s.processes.IsRunning(prefixed));
    EXPECT_FALSE(s.processes.IsRunning(upper));
    EXPECT_TRUE(s.processes.IsRunning(cutSecurity)) << "no 15-character entry for it";
    EXPECT_TRUE(s.processes.IsRunning(extended));
    EXPECT_TRUE(s.processes.IsRunning(unrelated));
    EXPECT_THAT(s.status.Metrics(), ::testing::HasSubstr("\nostrivan_up 0\n"));
}

TEST_F(ShutdownTest, ProcessesThatCannotBeTerminatedDoNotStopTheSequence) {
    s.processes.Add("o-alerts.exe");
    s.processes.Add("skype.exe");
    s.processes.Faults().Fail("OpenProcess");

    s.form.OnStop();

    EXPECT_EQ(s.processes.Calls("CreateToolhelp32Snapshot"), 21);
    // The alerts program opened to be asked to end; each one opened for its termination,
    // then looked for.
    EXPECT_EQ(s.processes.Calls("OpenProcess"), 5);
    EXPECT_TRUE(s.runtime.Unloaded());
    EXPECT_THAT(s.host.Events(), IsEmpty());
}

TEST_F(ShutdownTest, FailureShowingTheStatusLeavesTheFormAsking) {
    s.status.KeepFolder(true);
    const ProcessId alerts = s.processes.Add("o-alerts.exe");
    s.runtime.Faults().Fail("SetStatusText", 1);

    EXPECT_NO_THROW(s.form.OnStop());

    EXPECT_THAT(s.host.Events(),
                ElementsAreArray({EventLogEntry{109, 1, "[440] SetStatusText failed"}}));
    EXPECT_FALSE(s.form.State().IsStopping);
    EXPECT_EQ(s.processes.Calls("CreateToolhelp32Snapshot"), 0);
    EXPECT_TRUE(s.processes.IsRunning(alerts));
    EXPECT_EQ(s.runtime.UnloadRequests(), 0);
    EXPECT_FALSE(s.status.Status()) << "a stop that failed is not published";

    EXPECT_FALSE(s.runtime.CloseWindow());
    EXPECT_EQ(s.runtime.MessageBoxes().size(), 1u) << "closing the window still asks";
}

TEST_F(ShutdownTest, FailureAfterStoppingLetsTheNextUnloadGoWithoutAQuestion) {
    s.processes.Add("o-alerts.exe");
    s.runtime.Faults().Fail("UnloadForm", 1);

    EXPECT_NO_THROW(s.form.OnStop());

    EXPECT_THAT(s.host.Events(),
                ElementsAreArray({EventLogEntry{109, 1, "[440] UnloadForm failed"}}));
    EXPECT_TRUE(s.form.State().IsStopping);
    EXPECT_EQ(s.runtime.StatusText(), status::kStopped);
    EXPECT_EQ(s.processes.Calls("CreateToolhelp32Snapshot"), 21);
    EXPECT_THAT(s.processes.Running(), IsEmpty());
    EXPECT_FALSE(s.runtime.Unloaded());
    EXPECT_TRUE(s.runtime.TimerEnabled());

    EXPECT_TRUE(s.runtime.CloseWindow());
    EXPECT_THAT(s.runtime.MessageBoxes(), IsEmpty());
}

} // namespace
} // namespace ostrivan
