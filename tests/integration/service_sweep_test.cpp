#include "service_harness.h"

#include <signal.h>
#include <sys/wait.h>

#include <thread>

#include <gtest/gtest.h>

namespace ostrivan::integration {
namespace {

// A run whose every manager ends by itself, so that each sweep logs a manager launch.
RunOptions Counting() {
    return RunOptions().Environment("STANDIN_VANTORELLE_MANAGER_EXE", kCountingManager);
}

// Manager launches (sweeps) logged before the first line holding `text`.
std::size_t SweepsBefore(const SuiteRun& run, const std::string& text) {
    const std::string log = run.Log();
    const auto end = log.find(text);
    std::size_t count = 0;
    for (auto at = log.find("launched vantorelle_manager.exe"); at < end;
         at = log.find("launched vantorelle_manager.exe", at + 1)) {
        ++count;
    }
    return count;
}

bool KilledBySignal(const SuiteRun& run, pid_t pid) {
    const auto status = run.EndOf(pid);
    return status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL;
}

TEST(Sweep, EndsAShortLivedToolOneSweepAfterItWasSeen) {
    SuiteRun run(Counting());
    ASSERT_TRUE(run.WaitForLog("launched vantorelle_watcher.exe"));
    const std::size_t before = run.ManagerLaunches();
    const pid_t tool = run.StartExtra("rrdtool.exe");
    const pid_t messenger = run.StartExtra("KLAXO_MSN.EXE");
    const pid_t bystander = run.StartExtra("rrdtool.exe.bak");

    ASSERT_TRUE(Eventually([&] { return KilledBySignal(run, tool); }));
    ASSERT_TRUE(Eventually([&] { return KilledBySignal(run, messenger); }));
    const std::string ended =
        "terminated rrdtool.exe (pid " + std::to_string(tool) + ", exit code 0)";
    ASSERT_TRUE(run.WaitForLog(ended));
    // Seen by one sweep (which launched a manager at its end), ended by a later one.
    EXPECT_GE(SweepsBefore(run, ended), before + 1);
    EXPECT_FALSE(run.EndOf(bystander).has_value());
    // Every manager of this run ends by itself with 0, and its relaunch says so.
    EXPECT_GT(run.CountInLog("): the manager had ended with exit code 0"), 0U);
}

TEST(Sweep, EndsACheckProgramAfterThreeMinuteBoundariesAndLeavesSecurityChecksAlone) {
    SuiteRun run(Counting());
    // After the start, whose side-program list ends security checks.
    ASSERT_TRUE(run.WaitForLog("launched vantorelle_watcher.exe"));
    // An earlier run of the name, seen by two sweeps and ended, then three sweeps more.
    const pid_t earlier = run.StartExtra("nightly_check.exe");
    const std::size_t seen = run.ManagerLaunches();
    ASSERT_TRUE(Eventually([&] { return run.ManagerLaunches() >= seen + 2; }));
    ::kill(earlier, SIGTERM);
    ASSERT_TRUE(Eventually([&] { return run.EndOf(earlier).has_value(); }));
    ASSERT_TRUE(Eventually([&] { return run.ManagerLaunches() >= seen + 5; }));

    const std::size_t before = run.ManagerLaunches();
    const pid_t check = run.StartExtra("nightly_check.exe");
    const pid_t security = run.StartExtra("security_check.exe");
    const pid_t renamed = run.StartExtra("x_check.exe.old");
    ASSERT_TRUE(Eventually([&] { return run.ManagerLaunches() >= before + 1; }));
    const pid_t longer = run.StartExtra("hourly_nightly_check.exe");
    // The same check for many targets: runs of a minute each, two side by side, for eight
    // minutes (the extras keep real time: a second is a minute of the service's).
    std::vector<pid_t> runs;
    for (int halfMinute = 0; halfMinute < 16; ++halfMinute) {
        runs.push_back(run.StartExtra("nightly_check.exe", {"exit=0", "after=1000"}));
        std::this_thread::sleep_for(500ms);
    }

    ASSERT_TRUE(Eventually([&] { return KilledBySignal(run, check); }));
    const std::string ended = "terminated nightly_check.exe (pid " + std::to_string(check);
    ASSERT_TRUE(run.WaitForLog(ended));
    // First seen, seen again at one and two minutes, marked at three (or at two when a tick
    // came late), ended by the next sweep.
    EXPECT_GE(SweepsBefore(run, ended), before + 3);
    // The longer name ends on its own row's time, in a later sweep.
    ASSERT_TRUE(Eventually([&] { return KilledBySignal(run, longer); }));
    const std::string longerEnded =
        "terminated hourly_nightly_check.exe (pid " + std::to_string(longer);
    ASSERT_TRUE(run.WaitForLog(longerEnded));
    EXPECT_GT(SweepsBefore(run, longerEnded), SweepsBefore(run, ended));
    EXPECT_FALSE(run.EndOf(security).has_value());
    EXPECT_FALSE(run.EndOf(renamed).has_value());
    EXPECT_EQ(run.CountInLog(ended + ", exit code 3)"), 1U);
    for (const pid_t shortRun : runs) {
        ASSERT_TRUE(Eventually([&] { return run.EndOf(shortRun).has_value(); }));
        EXPECT_FALSE(KilledBySignal(run, shortRun)) << shortRun;
    }
}

TEST(Sweep, RelaunchesTheManagerAfterItWasKilled) {
    SuiteRun run;
    ASSERT_TRUE(Eventually([&] { return run.Running("vantorelle_manager.exe").size() == 1; }));
    const pid_t first = run.Running("vantorelle_manager.exe").front();
    ::kill(first, SIGKILL);
    ASSERT_TRUE(Eventually([&] {
        const auto managers = run.Running("vantorelle_manager.exe");
        return managers.size() == 1 && managers.front() != first;
    }));
    EXPECT_TRUE(run.WaitForLog("vantorelle_manager.exe (pid " + std::to_string(first) +
                               ") ended, signal SIGKILL"));
    // The new manager runs a moment before its launch is written down.
    ASSERT_TRUE(run.WaitForLog("launched vantorelle_manager.exe", 2));
    EXPECT_EQ(run.ManagerLaunches(), 2U);
    // The relaunch tells the end the loop reaped, not an exit code of its own making.
    EXPECT_TRUE(run.WaitForLog("): the manager had ended, signal SIGKILL"));
    EXPECT_EQ(run.CountInLog("the manager had ended with exit code 0"), 0U);
}

TEST(Sweep, RestartsTheManagerWhenItGrowsPastTheCeiling) {
    SuiteRun run(RunOptions().Environment("STANDIN_VANTORELLE_MANAGER_EXE", "hold=300"));
    pid_t first = 0;
    ASSERT_TRUE(Eventually([&] {
        const auto managers = run.Running("vantorelle_manager.exe");
        first = managers.empty() ? 0 : managers.front();
        return first != 0 && ResidentBytes(first).value_or(0) > 262'144'000;
    }));
    ASSERT_TRUE(run.WaitForLog("terminated vantorelle_manager.exe (pid " + std::to_string(first) +
                               ", exit code 259)"));
    std::vector<pid_t> managers;
    ASSERT_TRUE(Eventually([&] {
        managers = run.Running("vantorelle_manager.exe");
        return !managers.empty() && managers.front() != first;
    }));
    // The next one is launched only once the last one has ended: never two at once.
    EXPECT_EQ(managers.size(), 1U);
}

TEST(Sweep, LeavesAManagerBelowTheCeilingAlone) {
    SuiteRun run(RunOptions().Environment("STANDIN_VANTORELLE_MANAGER_EXE", "hold=200"));
    ASSERT_TRUE(Eventually([&] { return run.Running("vantorelle_manager.exe").size() == 1; }));
    const pid_t manager = run.Running("vantorelle_manager.exe").front();
    // Sweeps are counted here by short-lived tools, each ended by a later sweep.
    for (int round = 0; round < 3; ++round) {
        const pid_t tool = run.StartExtra("rrdtool.exe");
        ASSERT_TRUE(Eventually([&] { return KilledBySignal(run, tool); }));
    }
    EXPECT_EQ(run.Running("vantorelle_manager.exe"), std::vector<pid_t>{manager});
    EXPECT_EQ(run.ManagerLaunches(), 1U);
}

TEST(Sweep, PauseStopsTheSweepsAndContinueResumesThem) {
    SuiteRun run(Counting());
    ASSERT_TRUE(Eventually([&] { return run.ManagerLaunches() >= 2; }));

    run.Signal(SIGUSR1);
    ASSERT_TRUE(run.WaitForLog("event 109 (kind 1): Service paused"));
    ASSERT_TRUE(run.WaitForStatus("Configuration Service Paused"));
    const std::size_t paused = run.ManagerLaunches();
    const pid_t tool = run.StartExtra("rrdtool.exe");
    // Five sweep intervals with nothing to show for them. Only a sweep could end the tool
    // or launch a manager; a slow machine can only make this check weaker, never fail it.
    std::this_thread::sleep_for(5s);
    EXPECT_EQ(run.ManagerLaunches(), paused);
    EXPECT_FALSE(run.EndOf(tool).has_value());

    run.Signal(SIGUSR2);
    ASSERT_TRUE(run.WaitForLog("event 110 (kind 4): Service continued"));
    ASSERT_TRUE(run.WaitForStatus("Ostrivan Monitoring Service Running"));
    ASSERT_TRUE(Eventually([&] { return run.ManagerLaunches() >= paused + 2; }));
    EXPECT_TRUE(Eventually([&] { return KilledBySignal(run, tool); }));
}

TEST(Sweep, AControlCodeShowsOnTheStatusLine) {
    SuiteRun run;
    ASSERT_TRUE(run.WaitForStatus("Ostrivan Monitoring Service Running"));
    run.Signal(SIGRTMIN + 5);
    EXPECT_TRUE(run.WaitForStatus("Ostrivan Monitoring Service Control signal 133"));
    run.Signal(SIGRTMIN);
    EXPECT_TRUE(run.WaitForStatus("Ostrivan Monitoring Service Control signal 128"));
}

} // namespace
} // namespace ostrivan::integration
