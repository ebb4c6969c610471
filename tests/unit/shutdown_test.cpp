#include "fake_platform.h"

#include "supervisor/status_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace ostrivan {
namespace {

using fakes::EventLogEntry;
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
    EXPECT_EQ(s.processes.Calls("CreateToolhelp32Snapshot"), 21);
    EXPECT_THAT(s.processes.Running(), IsEmpty());
    EXPECT_TRUE(s.runtime.Unloaded());
    EXPECT_EQ(s.runtime.UnloadRequests(), 1);
    EXPECT_THAT(s.runtime.MessageBoxes(), IsEmpty()) << "a stopping form is not asked";
    EXPECT_THAT(s.host.Events(), IsEmpty());
}

// A program that ends when asked keeps its own exit code; one that ignores the request or
// cannot be asked (no window) is left to the list, run once the grace period is over.
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
    EXPECT_THAT(s.processes.TerminatedIds(), ElementsAreArray({windowless, deaf, side}));
    EXPECT_EQ(s.runtime.MonotonicNow() - before, 10'000) << "the grace period, then the list";
    // Asked and ended in time counted apart from terminated, in the status file and metrics.
    EXPECT_THAT(*s.status.Status(), HasSubstr("\"asked\": 2,\n    \"endedInTime\": 1\n"));
    EXPECT_THAT(s.status.Metrics(), HasSubstr("\nostrivan_stop_requests_total 2\n"));
    EXPECT_THAT(s.status.Metrics(), HasSubstr("\nostrivan_stop_requests_ended_total 1\n"));
    EXPECT_THAT(s.status.Metrics(), HasSubstr("_terminations_total{reason=\"shutdown_list\"} 3\n"));
    EXPECT_THAT(s.status.Metrics(), HasSubstr("\nostrivan_up 0\n"));
}

// The alerts program's id has moved on to another program: neither asked nor waited for.
TEST_F(ShutdownTest, WaitsOnlyAsLongAsTheSuiteTakesAndAsksOnlyTheSuite) {
    fakes::FakeProcess notepad;
    notepad.imageName = "notepad.exe";
    s.processes.ReuseIdAt(s.processes.Add("o-alerts.exe"), 1, notepad);
    s.processes.At(s.processes.Add("o-graphs.exe")).endsWhenAskedAfter = 4s;
    s.processes.At(s.processes.Add("vantorelle_watcher.exe")).endsWhenAskedAfter = 1s;
    const std::int64_t before = s.runtime.MonotonicNow();
    s.form.OnStop();
    EXPECT_EQ(s.runtime.MonotonicNow() - before, 4'000);
    EXPECT_THAT(s.processes.Terminations(), IsEmpty());
    EXPECT_EQ(s.actions.Records().size(), 4u) << "two asked, both ended";
}

TEST_F(ShutdownTest, ShowsStoppedFirstAndUnloadsAfterTheLastSnapshot) {
    const std::int64_t before = s.runtime.MonotonicNow();
    s.form.OnStop();
    EXPECT_EQ(s.runtime.MonotonicNow(), before) << "nothing of the suite runs: no wait";

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
}

TEST_F(ShutdownTest, ProcessesThatCannotBeTerminatedDoNotStopTheSequence) {
    s.processes.Add("o-alerts.exe");
    s.processes.Add("skype.exe");
    s.processes.Faults().Fail("OpenProcess");

    s.form.OnStop();

    EXPECT_EQ(s.processes.Calls("CreateToolhelp32Snapshot"), 21);
    // Each one opened for its termination, then looked for.
    EXPECT_EQ(s.processes.Calls("OpenProcess"), 5); // and the alerts program, to be asked
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
