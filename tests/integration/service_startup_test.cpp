#include "service_harness.h"

#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

namespace ostrivan::integration {
namespace {

bool EachRunsOnce(const SuiteRun& run) {
    for (const char* program : kSuitePrograms) {
        if (run.Running(program).size() != 1) {
            return false;
        }
    }
    return true;
}

std::size_t Position(const std::string& log, const std::string& text) {
    const auto at = log.find(text);
    EXPECT_NE(at, std::string::npos) << text;
    return at;
}

TEST(StartUp, LaunchesTheSuiteFromTheServicesOwnFolder) {
    SuiteRun run;
    ASSERT_TRUE(Eventually([&] { return EachRunsOnce(run); }));
    // A launch is logged once it has returned, a moment after the program runs.
    ASSERT_TRUE(run.WaitForLog("launched vantorelle_watcher.exe 900 (pid"));

    const pid_t watcher = run.Running("vantorelle_watcher.exe").front();
    EXPECT_EQ(CommandLine(watcher),
              (std::vector<std::string>{run.Folder() + "/vantorelle_watcher.exe", "900"}));
    EXPECT_EQ(CommandLine(run.Running("o-alerts.exe").front()),
              (std::vector<std::string>{run.Folder() + "/o-alerts.exe"}));

    const std::string log = run.Log();
    const auto alerts = Position(log, "launched o-alerts.exe (pid");
    const auto graphs = Position(log, "launched o-graphs.exe (pid");
    const auto trap = Position(log, "launched vantorelle_snmptrap.exe (pid");
    const auto manager = Position(log, "launched vantorelle_manager.exe (pid");
    const auto watcherLaunch = Position(log, "launched vantorelle_watcher.exe 900 (pid");
    EXPECT_LT(alerts, graphs);
    EXPECT_LT(graphs, trap);
    EXPECT_LT(trap, manager);
    EXPECT_LT(manager, watcherLaunch);

    ASSERT_TRUE(run.WaitForStatus("Ostrivan Monitoring Service Running"));
    EXPECT_EQ(run.StatusLines(),
              (std::vector<std::string>{"Loading", "Ostrivan Monitoring Service Running"}));
}

TEST(StartUp, EndsStaleSideProgramsAndStartsAFreshWatcher) {
    // Left over from an earlier run, before the service starts: the folder is laid out and
    // the service started by the run, so these come a moment later; they are caught by the
    // next start in the same folder.
    SuiteRun run(RunOptions().Arguments({"-remove"}));
    ASSERT_TRUE(run.WaitForExit());
    const pid_t oldWatcher = run.StartExtra("vantorelle_watcher.exe");
    const pid_t phone = run.StartExtra("klaxo_voicephone.exe");
    const pid_t security = run.StartExtra("security_check.exe");
    const pid_t bystander = run.StartExtra("notepad.exe");
    ASSERT_TRUE(Eventually([&] { return run.Running("klaxo_voicephone.exe").size() == 1; }));

    run.RunAgain({});
    for (const pid_t stale : {oldWatcher, phone, security}) {
        ASSERT_TRUE(Eventually([&] { return run.EndOf(stale).has_value(); })) << stale;
        EXPECT_TRUE(WIFSIGNALED(*run.EndOf(stale)));
    }
    ASSERT_TRUE(Eventually([&] { return run.Running("vantorelle_watcher.exe").size() == 1; }));
    const pid_t watcher = run.Running("vantorelle_watcher.exe").front();
    EXPECT_NE(watcher, oldWatcher);
    EXPECT_EQ(CommandLine(watcher).back(), "900");
    EXPECT_FALSE(run.EndOf(bystander).has_value());
    EXPECT_EQ(run.Running("notepad.exe"), std::vector<pid_t>{bystander});
}

TEST(StartUp, AProgramThatCannotBeLaunchedIsShownAndTheRestOfTheStartGoesOn) {
    const std::vector<std::string> present = {"o-alerts.exe", "vantorelle_snmptrap.exe",
                                              "vantorelle_manager.exe", "vantorelle_watcher.exe"};
    SuiteRun run(RunOptions().Programs(present));
    ASSERT_TRUE(run.WaitForLog("message box \"Error\": Error Shelling file. No such file or "
                               "directory: " +
                               run.Folder() + "/o-graphs.exe -> OK"));
    ASSERT_TRUE(run.WaitForLog("launched vantorelle_watcher.exe 900"));
    for (const auto& program : present) {
        EXPECT_EQ(run.Running(program).size(), 1U) << program;
    }
    // In the order of the start, the message where the graphs program would have started.
    const std::string log = run.Log();
    EXPECT_LT(log.find("launched o-alerts.exe"), log.find("Error Shelling file."));
    EXPECT_LT(log.find("Error Shelling file."), log.find("launched vantorelle_snmptrap.exe"));
    EXPECT_EQ(run.StatusLines().back(), "Ostrivan Monitoring Service Running");
}

TEST(StartUp, ASecondRunOnTheSameLockEndsAtOnceAndTouchesNoProcess) {
    SuiteRun first;
    ASSERT_TRUE(Eventually([&] { return EachRunsOnce(first); }));
    const pid_t manager = first.Running("vantorelle_manager.exe").front();
    const pid_t watcher = first.Running("vantorelle_watcher.exe").front(); // a start would end it

    SuiteRun second(RunOptions().Environment("OSTRIVAN_LOCK_DIR", first.RunFolder() + "/lock"));
    EXPECT_EQ(second.WaitForExit(10s), W_EXITCODE(1, 0)) << "a second run beside the first";
    EXPECT_EQ(second.CountInLog("already running as pid " + std::to_string(first.ServicePid())),
              1U);
    EXPECT_EQ(second.CountInLog("launched"), 0U);
    EXPECT_EQ(first.Running("vantorelle_manager.exe"), std::vector<pid_t>{manager});
    EXPECT_EQ(first.Running("vantorelle_watcher.exe"), std::vector<pid_t>{watcher});
}

} // namespace
} // namespace ostrivan::integration
