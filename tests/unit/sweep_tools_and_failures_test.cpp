#include "allocation_faults.h"
#include "supervisor_fixture.h"

#include <new>

namespace ostrivan::testing {
namespace {

class ShortLivedToolTest : public SupervisorTest {};

TEST_F(ShortLivedToolTest, IsQueuedByOneSweepAndTerminatedByTheNext) {
    const ProcessId rrd = s.processes.Add("RRDTOOL.EXE");
    const ProcessId prefixed = s.processes.Add("myrrdtool.exe");
    const ProcessId msn = s.processes.Add("klaxo_msn.exe");
    const ProcessId other = s.processes.Add("rrdtool.exe.bak");
    Tick();
    EXPECT_EQ(s.form.State().PendingKills.size(), 3u);
    EXPECT_TRUE(s.processes.Terminations().empty());
    Tick();
    ASSERT_EQ(s.processes.Terminations().size(), 3u);
    for (const auto& t : s.processes.Terminations()) {
        EXPECT_EQ(t.exitCode, 0u);
        EXPECT_EQ(t.access, access::kAllAccessNt5);
        EXPECT_TRUE(t.withDebugPrivilege);
    }
    EXPECT_EQ(s.processes.TerminatedIds(), (std::vector<ProcessId>{rrd, prefixed, msn}));
    EXPECT_FALSE(Terminated(other));
    EXPECT_EQ(s.processes.OpenHandleCount(), 0u);
    EXPECT_TRUE(Events().empty());
}

TEST_F(ShortLivedToolTest, ToolThatEndedInBetweenIsSkippedWithoutReport) {
    const ProcessId rrd = s.processes.Add("rrdtool.exe");
    Tick();
    s.processes.Remove(rrd);
    Tick();
    EXPECT_TRUE(s.processes.Terminations().empty());
    EXPECT_TRUE(Events().empty());
    EXPECT_TRUE(s.form.State().PendingKills.empty());
}

TEST_F(ShortLivedToolTest, IdReusedByAnotherProcessIsNotTerminated) {
    const ProcessId rrd = s.processes.Add("rrdtool.exe");
    Tick();
    s.processes.Remove(rrd);
    // Another tool of the same name, even, now carries the id: it is not the one seen.
    AddReusingId(rrd, "rrdtool.exe");
    Tick();
    EXPECT_FALSE(Terminated(rrd));
    // The newcomer was seen by this sweep and goes the usual way.
    Tick();
    EXPECT_TRUE(Terminated(rrd));
}

TEST_F(ShortLivedToolTest, IdThatNoLongerCarriesAToolNameIsNotTerminated) {
    const ProcessId rrd = s.processes.Add("rrdtool.exe");
    Tick();
    // Same process, another image, as after an exec.
    s.processes.At(rrd).imageName = "sshd";
    Tick();
    EXPECT_FALSE(Terminated(rrd));
}

TEST_F(ShortLivedToolTest, PauseLeavesTheQueueForTheFirstSweepAfterContinue) {
    const ProcessId rrd = s.processes.Add("rrdtool.exe");
    Tick();
    HostFlag flag = 0;
    s.form.OnPause(flag);
    s.runtime.Advance(2h);
    EXPECT_FALSE(s.runtime.FireTimer());
    EXPECT_FALSE(Terminated(rrd));
    s.form.OnContinue(flag);
    Tick();
    EXPECT_TRUE(Terminated(rrd));
}

class SweepFailureTest : public SupervisorTest {};

TEST_F(SweepFailureTest, OneFailingPendingIdDoesNotStopTheOthers) {
    const ProcessId a = s.processes.Add("rrdtool.exe");
    const ProcessId b = s.processes.Add("klaxo_msn.exe");
    Tick();
    const int opensBefore = s.processes.Calls("OpenProcess");
    s.processes.Faults().Raise("OpenProcess", std::make_exception_ptr(std::bad_alloc()), 1);
    Tick();
    EXPECT_GT(s.processes.Calls("OpenProcess"), opensBefore);
    EXPECT_FALSE(Terminated(a));
    EXPECT_TRUE(Terminated(b));
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(s.processes.OpenHandleCount(), 0u);
}

// Names whose copies allocate, each of its own length, so one row's copy can be made to fail.
constexpr const char* kRowA = "aaaaaaaaaa_check.exe";   // 20 characters
constexpr const char* kRowB = "bbbbbbbbbbb_check.exe";  // 21
constexpr const char* kRowC = "cccccccccccc_check.exe"; // 22

class ReapFailureTest : public SupervisorTest {
protected:
    void SetUp() override {
        for (const char* name : {kRowA, kRowB, kRowC}) {
            s.processes.Add(name);
        }
        Tick();
        ASSERT_EQ(TrackedNames().size(), 3u);
        snapshotsBefore = Snapshots();
        managerLaunches = s.runtime.Launches().size();
    }
    void TearDown() override { fakes::ClearAllocationFaults(); }

    void ExpectTickEndedWithOutOfMemory() {
        ASSERT_EQ(Events().size(), 1u);
        EXPECT_EQ(Events()[0], (fakes::EventLogEntry{109, 1, "[7] Out of memory"}));
        EXPECT_EQ(Snapshots(), snapshotsBefore); // no scan
        EXPECT_EQ(s.runtime.Launches().size(), managerLaunches);
    }

    int snapshotsBefore = 0;
    std::size_t managerLaunches = 0;
};

TEST_F(ReapFailureTest, ErrorDuringTheWalkLeavesTheTableAndSkipsTheRestOfTheTick) {
    s.processes.Remove(s.form.State().ManagerPid.id); // step 4 would launch
    fakes::FailAllocationOfSize(23, 1);               // copying row C aside
    Tick();
    ExpectTickEndedWithOutOfMemory();
    EXPECT_EQ(TrackedNames(), (std::vector<std::string>{kRowA, kRowB, kRowC}));
}

TEST_F(ReapFailureTest, ErrorDuringTheRebuildKeepsTheRowsCopiedSoFar) {
    s.processes.Remove(s.form.State().ManagerPid.id);
    fakes::FailAllocationOfSize(23, 2); // copying row C back
    Tick();
    ExpectTickEndedWithOutOfMemory();
    EXPECT_EQ(TrackedNames(), (std::vector<std::string>{kRowA, kRowB}));
    // Row C's program is tracked afresh by the next sweep.
    Tick();
    EXPECT_EQ(TrackedNames(), (std::vector<std::string>{kRowA, kRowB, kRowC}));
}

TEST_F(SweepFailureTest, ScanErrorEndsThePassQuietlyAndTheKeeperStillRuns) {
    s.processes.Add("disk_check.exe");
    s.processes.Add("late_check.exe");
    const ProcessId rrd = s.processes.Add("rrdtool.exe");
    s.runtime.Faults().Fail("UtcNow", 1); // tracking disk_check.exe fails
    Tick();
    EXPECT_TRUE(Events().empty());
    EXPECT_TRUE(TrackedNames().empty());
    // Entries after the failure wait for the next sweep.
    EXPECT_TRUE(s.form.State().PendingKills.empty());
    EXPECT_NE(s.form.State().ManagerPid.id, 0u);
    Tick();
    EXPECT_EQ(TrackedNames(), (std::vector<std::string>{"disk_check.exe", "late_check.exe"}));
    EXPECT_FALSE(s.form.State().PendingKills.empty());
    Tick();
    EXPECT_TRUE(Terminated(rrd));
}

TEST_F(SweepFailureTest, WhatTheScanRecordedBeforeAnErrorStays) {
    const ProcessId rrd = s.processes.Add("rrdtool.exe");
    s.processes.Add("disk_check.exe");
    s.runtime.Faults().Fail("UtcNow", 1);
    Tick();
    ASSERT_EQ(s.form.State().PendingKills.size(), 1u);
    Tick();
    EXPECT_TRUE(Terminated(rrd));
}

TEST_F(SweepFailureTest, SnapshotThatCannotBeTakenFindsNothingAndTheKeeperStillRuns) {
    s.processes.Add("rrdtool.exe");
    s.processes.Add("disk_check.exe");
    s.processes.Faults().Fail("CreateToolhelp32Snapshot");
    Tick();
    EXPECT_TRUE(TrackedNames().empty());
    EXPECT_TRUE(s.form.State().PendingKills.empty());
    EXPECT_EQ(s.runtime.Launches().size(), 1u);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(s.processes.OpenHandleCount(), 0u);
}

TEST_F(SweepFailureTest, FailedManagerLaunchIsReportedOncePerTick) {
    s.runtime.RemoveProgram("vantorelle_manager.exe");
    const ProcessId rrd = s.processes.Add("rrdtool.exe");
    Tick();
    Tick();
    ASSERT_EQ(Events().size(), 2u);
    EXPECT_EQ(Events()[0], (fakes::EventLogEntry{109, 1, "[53] File not found"}));
    EXPECT_EQ(s.form.State().ManagerPid.id, 0u);
    EXPECT_TRUE(Terminated(rrd)); // the earlier steps ran
}

} // namespace
} // namespace ostrivan::testing
