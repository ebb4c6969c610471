#include "supervisor_fixture.h"

namespace ostrivan::testing {
namespace {

constexpr std::uint64_t kCeiling = 262'144'000;

class ManagerKeeperTest : public SupervisorTest {
protected:
    // A sweep whose only work is the keeper's, since the table holds no tools or checks.
    ProcessId ManagerAfterTick() {
        Tick();
        return s.form.State().ManagerPid.id;
    }
    std::size_t ManagerLaunches() const {
        std::size_t n = 0;
        for (const auto& launch : s.runtime.Launches()) {
            n += launch.programPath == s.runtime.PathOf("vantorelle_manager.exe") ? 1 : 0;
        }
        return n;
    }
};

TEST_F(ManagerKeeperTest, FirstCallLaunchesEvenWhenSomeoneElsesManagerRuns) {
    const ProcessId foreign = s.processes.Add("vantorelle_manager.exe");
    const ProcessId ours = ManagerAfterTick();
    EXPECT_NE(ours, foreign);
    EXPECT_NE(ours, 0u);
    EXPECT_EQ(ManagerLaunches(), 1u);
    ASSERT_FALSE(s.runtime.Launches().empty());
    const auto& launch = s.runtime.Launches().back();
    EXPECT_EQ(launch.commandLine, "\"C:\\Program Files\\Ostrivan\\vantorelle_manager.exe\"");
    EXPECT_EQ(launch.windowStyle, 1);
    EXPECT_FALSE(Terminated(foreign));
}

TEST_F(ManagerKeeperTest, ManagerAtTheCeilingIsLeftAndOneByteMoreIsRestarted) {
    const ProcessId first = ManagerAfterTick();
    s.processes.At(first).workingSet = kCeiling;
    EXPECT_EQ(ManagerAfterTick(), first);
    EXPECT_TRUE(s.processes.Terminations().empty());

    s.processes.At(first).workingSet = kCeiling + 1;
    const ProcessId second = ManagerAfterTick();
    EXPECT_NE(second, first);
    ASSERT_EQ(s.processes.Terminations().size(), 1u);
    const auto& end = s.processes.Terminations()[0];
    EXPECT_EQ(end.id, first);
    EXPECT_EQ(end.exitCode, 259u);
    EXPECT_EQ(end.access,
              access::kTerminate | access::kQueryLimitedInformation | access::kSynchronize);
    EXPECT_FALSE(end.withDebugPrivilege);
    EXPECT_EQ(s.processes.OpenHandleCount(), 0u);
}

TEST_F(ManagerKeeperTest, WorkingSetsPast2GiBAreStillOversized) {
    const ProcessId first = ManagerAfterTick();
    s.processes.At(first).workingSet = 4'294'967'296ull + 1000; // wraps to 1000 in 32 bits
    EXPECT_NE(ManagerAfterTick(), first);
}

TEST_F(ManagerKeeperTest, UnreadableWorkingSetLeavesTheManagerAlone) {
    const ProcessId first = ManagerAfterTick();
    s.processes.At(first).workingSet = 1ull << 40;
    s.processes.Faults().Fail("GetProcessMemoryInfo");
    EXPECT_EQ(ManagerAfterTick(), first);
    EXPECT_EQ(ManagerLaunches(), 1u);
}

TEST_F(ManagerKeeperTest, EndedOrUnopenableManagerIsRelaunched) {
    const ProcessId first = ManagerAfterTick();
    s.processes.Exit(first, 3, /*heldElsewhere=*/true);
    const ProcessId second = ManagerAfterTick();
    EXPECT_NE(second, first);
    s.processes.Remove(second);
    const ProcessId third = ManagerAfterTick();
    EXPECT_NE(third, second);
    EXPECT_EQ(ManagerLaunches(), 3u);
    EXPECT_TRUE(s.processes.Terminations().empty());
    EXPECT_FALSE(s.actions.Records().back().exitCodeKnown); // none made up for the gone one
}

// Ended is asked of the process, not read from its code: the keeper itself ends with 259.
TEST_F(ManagerKeeperTest, ManagerThatEndedWithTheRunningCodeCountsAsEnded) {
    const ProcessId first = ManagerAfterTick();
    s.processes.Exit(first, 259, /*heldElsewhere=*/true);
    EXPECT_NE(ManagerAfterTick(), first);
    EXPECT_EQ(ManagerLaunches(), 2u);
}

// One manager at a time: none beside one whose termination was refused or has not ended yet.
TEST_F(ManagerKeeperTest, NextManagerIsLaunchedOnlyOnceTheLastHasEnded) {
    const ProcessId first = ManagerAfterTick();
    s.processes.At(first).workingSet = kCeiling + 1;
    s.processes.At(first).refusesTermination = true;
    EXPECT_EQ(ManagerAfterTick(), first);
    EXPECT_EQ(s.actions.Records().back().action, Action::TerminationRefused);
    s.processes.At(first).refusesTermination = false;
    const ProcessId second = ManagerAfterTick();
    EXPECT_NE(second, first);
    EXPECT_FALSE(s.processes.IsRunning(first));
    s.processes.At(second).workingSet = kCeiling + 1;
    s.processes.At(second).endsLate = true;
    EXPECT_EQ(ManagerAfterTick(), second);
    s.processes.Exit(second, kStillActive);
    EXPECT_NE(ManagerAfterTick(), second);
    EXPECT_EQ(ManagerLaunches(), 3u);
}

TEST_F(ManagerKeeperTest, MissingManagerIsReportedEverySweepAndTheIdIsKept) {
    const ProcessId first = ManagerAfterTick();
    s.runtime.RemoveProgram("vantorelle_manager.exe");
    s.processes.Remove(first);
    EXPECT_EQ(ManagerAfterTick(), first);
    EXPECT_EQ(ManagerAfterTick(), first);
    ASSERT_EQ(Events().size(), 2u);
    EXPECT_EQ(Events()[1], (fakes::EventLogEntry{109, 1, "[53] File not found"}));
    s.runtime.AddProgram("vantorelle_manager.exe");
    EXPECT_NE(ManagerAfterTick(), first);
}

TEST_F(ManagerKeeperTest, StrangerThatInheritedTheIdIsNeverMeasuredNorTerminated) {
    const ProcessId first = ManagerAfterTick();
    s.processes.Remove(first);
    AddReusingId(first, "vantorelle_manager.exe");
    s.processes.At(first).workingSet = kCeiling * 4;
    const int memoryQueries = s.processes.Calls("GetProcessMemoryInfo");
    const ProcessId second = ManagerAfterTick();
    EXPECT_NE(second, first);
    EXPECT_EQ(s.processes.Calls("GetProcessMemoryInfo"), memoryQueries);
    EXPECT_TRUE(s.processes.Terminations().empty());
    EXPECT_TRUE(s.processes.IsRunning(first));
}

} // namespace
} // namespace ostrivan::testing
