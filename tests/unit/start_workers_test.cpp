#include "supervisor_fixture.h"

#include <gmock/gmock.h>

namespace ostrivan::testing {
namespace {

const std::string kFolder = "C:\\Program Files\\Ostrivan";

std::string Quoted(const std::string& program) {
    return "\"" + kFolder + "\\" + program + "\"";
}

class StartWorkersTest : public SupervisorTest {
protected:
    HostFlag Start() {
        HostFlag success = 0;
        s.form.OnStart(success);
        return success;
    }
    std::vector<std::string> LaunchedCommandLines() const {
        std::vector<std::string> lines;
        for (const auto& launch : s.runtime.Launches()) {
            lines.push_back(launch.commandLine);
        }
        return lines;
    }
};

TEST_F(StartWorkersTest, LaunchesInOrderThenKeeperThenTerminationsThenTheWatcher) {
    const ProcessId skype = s.processes.Add("Skype.exe");
    const ProcessId truncated = s.processes.Add("vantorelle_watc");
    EXPECT_EQ(Start(), kHostTrue);
    EXPECT_EQ(s.runtime.StatusText(), "Ostrivan Monitoring Service Running");
    EXPECT_EQ(LaunchedCommandLines(),
              (std::vector<std::string>{
                  Quoted("o-alerts.exe"), Quoted("o-graphs.exe"), Quoted("vantorelle_snmptrap.exe"),
                  Quoted("vantorelle_manager.exe"), Quoted("vantorelle_watcher.exe") + " 900"}));
    for (const auto& launch : s.runtime.Launches()) {
        EXPECT_EQ(launch.windowStyle, 1);
    }
    ASSERT_EQ(s.runtime.Launches().size(), 5u);
    EXPECT_EQ(s.runtime.Launches()[4].programPath, kFolder + "\\vantorelle_watcher.exe");
    EXPECT_EQ(Snapshots(), 8); // one per name of the termination list
    EXPECT_EQ(s.processes.TerminatedIds(), (std::vector<ProcessId>{skype, truncated}));
    // The terminations come after the manager's launch and before the watcher's.
    const auto order = s.log.Only({"runtime.LaunchProgram", "api.CreateToolhelp32Snapshot"});
    ASSERT_EQ(order.size(), 13u);
    EXPECT_NE(order[3].find("vantorelle_manager.exe"), std::string::npos);
    EXPECT_NE(order[12].find("vantorelle_watcher.exe"), std::string::npos);
    EXPECT_EQ(s.processes.OpenHandleCount(), 0u);
    EXPECT_TRUE(Events().empty());
}

TEST_F(StartWorkersTest, RunningWatcherIsTerminatedAndRelaunchedWith900) {
    const ProcessId old = s.processes.Add("vantorelle_watcher.exe");
    Start();
    EXPECT_TRUE(Terminated(old));
    const auto watchers = s.processes.RunningNamed("vantorelle_watcher.exe");
    ASSERT_EQ(watchers.size(), 1u);
    EXPECT_NE(watchers[0], old);
    ASSERT_FALSE(s.runtime.Launches().empty());
    EXPECT_EQ(s.runtime.Launches().back().commandLine, Quoted("vantorelle_watcher.exe") + " 900");
}

TEST_F(StartWorkersTest, ProgramsThatCannotBeLaunchedAreShownAndTheRestIsStarted) {
    s.runtime.RemoveProgram("o-graphs.exe");
    s.runtime.RemoveProgram("vantorelle_manager.exe");
    const ProcessId watcher = s.processes.Add("vantorelle_watcher.exe");
    EXPECT_EQ(Start(), kHostTrue);
    ASSERT_EQ(s.runtime.MessageBoxes().size(), 2u);
    EXPECT_EQ(s.runtime.MessageBoxes()[1].style, 48);
    EXPECT_EQ(s.runtime.MessageBoxes()[1].title, std::optional<std::string>("Error"));
    EXPECT_THAT(s.log.Only({"runtime.LaunchProgram", "runtime.ShowMessageBox"}),
                ::testing::ElementsAre(
                    "runtime.LaunchProgram " + Quoted("o-alerts.exe"),
                    "runtime.LaunchProgram " + Quoted("o-graphs.exe"),
                    "runtime.ShowMessageBox Error Shelling file.\r\nFile not found",
                    "runtime.LaunchProgram " + Quoted("vantorelle_snmptrap.exe"),
                    "runtime.LaunchProgram " + Quoted("vantorelle_manager.exe"),
                    "runtime.ShowMessageBox Error Shelling file.\r\nFile not found",
                    "runtime.LaunchProgram " + Quoted("vantorelle_watcher.exe") + " 900"));
    EXPECT_EQ(s.form.State().ManagerPid.id, 0u);
    EXPECT_EQ(Snapshots(), 8);
    EXPECT_TRUE(Terminated(watcher));
    EXPECT_EQ(s.processes.RunningNamed("vantorelle_watcher.exe").size(), 1u);
    EXPECT_TRUE(Events().empty());
}

TEST_F(StartWorkersTest, StatusThatCannotBeShownIsReportedAndLeavesTheFlag) {
    s.runtime.Faults().Fail("SetStatusText", 1);
    s.status.KeepFolder(true);
    EXPECT_EQ(Start(), 0);
    ASSERT_EQ(Events().size(), 1u);
    EXPECT_EQ(Events()[0].kind, 109);
    EXPECT_EQ(Events()[0].id, 1);
    EXPECT_TRUE(s.runtime.Launches().empty());
    EXPECT_FALSE(s.status.Status()) << "a start the host reports failed is not published";
}

TEST_F(StartWorkersTest, SecondStartAddsFrontProgramsButKeepsTheRunningManager) {
    Start();
    const ProcessId manager = s.form.State().ManagerPid.id;
    Start();
    EXPECT_EQ(s.processes.RunningNamed("o-alerts.exe").size(), 2u);
    EXPECT_EQ(s.processes.RunningNamed("o-graphs.exe").size(), 2u);
    EXPECT_EQ(s.processes.RunningNamed("vantorelle_snmptrap.exe").size(), 2u);
    EXPECT_EQ(s.processes.RunningNamed("vantorelle_manager.exe"), std::vector<ProcessId>{manager});
    EXPECT_EQ(s.processes.RunningNamed("vantorelle_watcher.exe").size(), 1u);
}

TEST_F(StartWorkersTest, SweepBeforeTheStartAlreadyLaunchesTheManager) {
    Tick();
    const ProcessId manager = s.form.State().ManagerPid.id;
    ASSERT_NE(manager, 0u);
    Start();
    EXPECT_EQ(s.form.State().ManagerPid.id, manager);
    EXPECT_EQ(s.processes.RunningNamed("vantorelle_manager.exe").size(), 1u);
}

} // namespace
} // namespace ostrivan::testing
