#include "service_harness.h"

#include <signal.h>

#include <gtest/gtest.h>

namespace ostrivan::integration {
namespace {

// The service at rest: paused, so that no sweep runs, and every child that ended reaped.
std::size_t DescriptorsAtRest(SuiteRun& run, std::size_t pauses) {
    run.Signal(SIGUSR1);
    EXPECT_TRUE(run.WaitForLog("Service paused", pauses));
    EXPECT_TRUE(Eventually([&] { return ZombieChildren(run.ServicePid()) == 0; }))
        << ZombieChildren(run.ServicePid()) << " children of the service wait to be reaped";
    return OpenDescriptors(run.ServicePid());
}

// Keeps a short-lived tool and a check program running, starting them again whenever a
// sweep has ended them, so that every sweep opens, probes and terminates processes.
void KeepVictimsRunning(SuiteRun& run, pid_t& tool, pid_t& check) {
    if (run.EndOf(tool)) {
        tool = run.StartExtra("rrdtool.exe");
    }
    if (run.EndOf(check)) {
        check = run.StartExtra("daily_check.exe");
    }
}

TEST(Resources, ManySweepsLeaveNoDescriptorNoHandleAndNoZombieBehind) {
    // Ten sweeps a second; every sweep launches a manager that ends a moment later.
    SuiteRun run(
        RunOptions().Environment("STANDIN_VANTORELLE_MANAGER_EXE", "exit=0 after=1000").Speed(600));
    pid_t tool = run.StartExtra("rrdtool.exe");
    pid_t check = run.StartExtra("daily_check.exe");
    ASSERT_TRUE(Eventually([&] {
        KeepVictimsRunning(run, tool, check);
        return run.ManagerLaunches() >= 20;
    }));
    const std::size_t before = DescriptorsAtRest(run, 1);
    const std::size_t sweepsBefore = run.ManagerLaunches();

    run.Signal(SIGUSR2);
    std::size_t toolsEnded = 0;
    ASSERT_TRUE(Eventually(
        [&] {
            if (run.EndOf(tool)) {
                ++toolsEnded;
            }
            KeepVictimsRunning(run, tool, check);
            return run.ManagerLaunches() >= sweepsBefore + 300;
        },
        180s));
    const std::size_t after = DescriptorsAtRest(run, 2);

    EXPECT_EQ(after, before);
    EXPECT_GT(toolsEnded, 50U);
    EXPECT_GT(run.CountInLog("terminated daily_check.exe"), 10U);
    RecordProperty("sweeps", static_cast<int>(run.ManagerLaunches()));
    RecordProperty("descriptors", static_cast<int>(after));
}

} // namespace
} // namespace ostrivan::integration
