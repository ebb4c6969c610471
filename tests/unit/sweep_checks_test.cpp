#include "supervisor_fixture.h"

namespace ostrivan::testing {
namespace {

class CheckProgramTest : public SupervisorTest {};

TEST_F(CheckProgramTest, IsTrackedMarkedAfterThreeMinuteBoundariesThenReapedByName) {
    s.runtime.SetNow({2026, 12, 8, 10, 0, 30, 0});
    const ProcessId disk = s.processes.Add("disk_check.exe");

    Tick(); // k, 10:01:30
    ASSERT_EQ(TrackedNames(), std::vector<std::string>{"disk_check.exe"});
    const std::int64_t firstSeen = Table()[1].FirstSeenUtc();
    EXPECT_EQ(firstSeen, 1'796'724'090);
    Tick(); // k+1
    Tick(); // k+2
    ASSERT_EQ(TrackedNames().size(), 1u);
    EXPECT_EQ(Table()[1].Overdue, 0);
    EXPECT_EQ(Table()[1].FirstSeenUtc(), firstSeen);
    EXPECT_FALSE(Terminated(disk));
    Tick(); // k+3: 10:04:30 is three boundaries after 10:01:30
    ASSERT_EQ(TrackedNames().size(), 1u);
    EXPECT_EQ(Table()[1].Overdue, -1);
    EXPECT_FALSE(Terminated(disk));
    Tick(); // k+4
    ASSERT_TRUE(Terminated(disk));
    EXPECT_TRUE(TrackedNames().empty());
    EXPECT_EQ(s.processes.Terminations().back().exitCode, 3u);
    EXPECT_EQ(s.processes.OpenHandleCount(), 0u);
}

TEST_F(CheckProgramTest, SurvivorOfItsTerminationIsTrackedAgainFromANewSighting) {
    s.processes.At(s.processes.Add("disk_check.exe")).refusesTermination = true;
    for (int i = 0; i < 4; ++i) {
        Tick();
    }
    ASSERT_EQ(TrackedNames(), std::vector<std::string>{"disk_check.exe"});
    const std::int64_t before = Table()[1].FirstSeenUtc();
    Tick(); // reaps, then finds it again in the same sweep
    ASSERT_EQ(TrackedNames(), std::vector<std::string>{"disk_check.exe"});
    EXPECT_EQ(Table()[1].Overdue, 0);
    EXPECT_GT(Table()[1].FirstSeenUtc(), before);
}

TEST_F(CheckProgramTest, LateTicksMarkOneSweepEarlier) {
    s.runtime.SetNow({2026, 12, 8, 10, 0, 0, 0});
    s.processes.Add("disk_check.exe");
    Tick(59s); // 10:00:59 first seen
    Tick(61s); // 10:02:00, difference 2
    ASSERT_EQ(TrackedNames().size(), 1u);
    EXPECT_EQ(Table()[1].Overdue, 0);
    Tick(61s); // 10:03:01, difference 3 although only 2 min 2 s passed
    ASSERT_EQ(TrackedNames().size(), 1u);
    EXPECT_EQ(Table()[1].Overdue, -1);
}

TEST_F(CheckProgramTest, EndedProgramIsForgottenSoItsNextRunIsTimedFromItsOwnSighting) {
    const ProcessId first = s.processes.Add("disk_check.exe");
    Tick();
    Tick();
    s.processes.Remove(first);
    s.processes.Faults().Fail("CreateToolhelp32Snapshot", 1);
    Tick();
    ASSERT_EQ(TrackedNames().size(), 1u) << "a sweep without a snapshot forgets nothing";
    Tick();
    EXPECT_TRUE(TrackedNames().empty());
    s.runtime.Advance(1h);
    const ProcessId again = s.processes.Add("disk_check.exe");
    Tick();
    Tick();
    Tick();
    ASSERT_EQ(TrackedNames().size(), 1u);
    EXPECT_EQ(Table()[1].Overdue, 0);
    Tick(); // three boundaries after its own first sighting
    Tick();
    EXPECT_TRUE(Terminated(again));
}

// One check program runs for many targets side by side: each run is timed on its own.
TEST_F(CheckProgramTest, OverlappingRunsOfOneNameAreTimedApartAndOnlyTheOverdueOneIsEnded) {
    const ProcessId a = s.processes.Add("disk_check.exe");
    Tick();
    ProcessId b = s.processes.Add("DISK_CHECK.EXE");
    for (int i = 0; i < 4; ++i) {
        const ProcessId next = s.processes.Add("disk_check.exe");
        Tick();
        s.processes.Remove(b); // each run seen by two sweeps
        b = next;
    }
    EXPECT_EQ(s.processes.TerminatedIds(), std::vector<ProcessId>{a});
    Tick();
    ASSERT_EQ(Table().size(), 2u); // ended runs forgotten: the last run alone, by its id
    EXPECT_EQ(Table()[1].Process.id, b);
}

TEST_F(CheckProgramTest, ReapEndsThatNameOnlyNotLongerNamesEndingWithIt) {
    const ProcessId security = s.processes.Add("security_check.exe");
    const ProcessId net = s.processes.Add("netsecurity_check.exe");
    const ProcessId bare = s.processes.Add("_check.exe");
    const ProcessId ping = s.processes.Add("ping_check.exe");
    Tick();
    EXPECT_EQ(TrackedNames(), (std::vector<std::string>{"_check.exe", "ping_check.exe"}));
    const ProcessId snmpping = s.processes.Add("snmpping_check.exe");
    for (int i = 0; i < 4; ++i) {
        Tick();
    }
    EXPECT_TRUE(Terminated(bare));
    EXPECT_TRUE(Terminated(ping));
    // A sweep younger than ping_check.exe, and never overdue with it.
    EXPECT_FALSE(Terminated(snmpping));
    EXPECT_FALSE(Terminated(security));
    EXPECT_FALSE(Terminated(net));
}

TEST_F(CheckProgramTest, OnlyNamesEndingInTheCheckSuffixAreTracked) {
    s.processes.Add("x_check.exe.old");
    s.processes.Add("xcheck.exe");
    s.processes.Add("_check.exe");
    s.processes.Add("Mixed_Check.EXE");
    Tick();
    EXPECT_EQ(TrackedNames(), (std::vector<std::string>{"_check.exe", "mixed_check.exe"}));
}

// A wall clock set back or forth does not move the count; daylight saving cannot, for the
// service reads no local clock.
TEST_F(CheckProgramTest, ClockChangesNeitherMarkEarlyNorDelayTheMark) {
    for (const std::chrono::milliseconds by : {-24h, 24h}) {
        const ProcessId check = s.processes.Add("shift_check.exe");
        Tick(); // first seen
        Tick();
        s.runtime.SetWallClockBy(by);
        Tick();
        ASSERT_EQ(TrackedNames().size(), 1u);
        EXPECT_EQ(Table()[1].Overdue, 0) << by.count();
        Tick(); // three boundaries after the first sighting, whatever the clocks show
        ASSERT_EQ(TrackedNames().size(), 1u);
        EXPECT_EQ(Table()[1].Overdue, -1) << by.count();
        Tick();
        EXPECT_TRUE(Terminated(check)) << by.count();
    }
}

TEST_F(CheckProgramTest, MarkedRowWhoseProgramEndedIsDroppedAllTheSame) {
    const ProcessId disk = s.processes.Add("disk_check.exe");
    for (int i = 0; i < 4; ++i) {
        Tick();
    }
    ASSERT_EQ(TrackedNames().size(), 1u);
    ASSERT_EQ(Table()[1].Overdue, -1);
    s.processes.Remove(disk);
    Tick();
    EXPECT_TRUE(TrackedNames().empty());
    EXPECT_TRUE(s.processes.Terminations().empty());
}

TEST_F(CheckProgramTest, SurvivingRowsKeepTheirOrderAndFieldsAcrossRebuilds) {
    s.processes.Add("a_check.exe");
    Tick();
    const ProcessId b = s.processes.Add("b_check.exe");
    Tick();
    s.processes.Add("c_check.exe");
    Tick();
    Tick(); // a marked
    const std::vector<CheckRecord> before = Table();
    ASSERT_EQ(before.size(), 4u);
    ASSERT_EQ(before[1].Overdue, -1);
    Tick(); // a reaped; b marked
    ASSERT_EQ(TrackedNames(), (std::vector<std::string>{"b_check.exe", "c_check.exe"}));
    EXPECT_EQ(Table()[1].FirstSeenUtc(), before[2].FirstSeenUtc());
    EXPECT_EQ(Table()[2].FirstSeen.monotonicMilliseconds,
              before[3].FirstSeen.monotonicMilliseconds);
    EXPECT_FALSE(Terminated(b));
}

} // namespace
} // namespace ostrivan::testing
