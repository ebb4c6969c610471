#include "service_harness.h"

#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

namespace ostrivan::integration {
namespace {

bool NoneRuns(const SuiteRun& run, const std::vector<std::string>& programs) {
    for (const auto& program : programs) {
        if (!run.Running(program).empty()) {
            return false;
        }
    }
    return true;
}

const std::vector<std::string> kSuite(kSuitePrograms.begin(), kSuitePrograms.end());

// Asked first: a program that exits on SIGTERM keeps its own exit status; one that ignores it
// is killed once the grace period is over (10 s of the service's clock, sped up 60 times).
TEST(Stop, TermEndsEverySuiteProcessAndTheService) {
    SuiteRun run(RunOptions()
                     .Environment("STANDIN_O_ALERTS_EXE", "term=7")
                     .Environment("STANDIN_VANTORELLE_MANAGER_EXE", "term=ignore"));
    ASSERT_TRUE(Eventually([&] { return run.Running("vantorelle_watcher.exe").size() == 1; }));
    const pid_t alerts = run.Running("o-alerts.exe").at(0);
    const pid_t manager = run.Running("vantorelle_manager.exe").at(0);
    const pid_t phone = run.StartExtra("klaxo_voicephone.exe");
    const pid_t skype = run.StartExtra("skypepm.exe");
    const pid_t bystander = run.StartExtra("notepad.exe");
    ASSERT_TRUE(Eventually([&] { return run.Running("skypepm.exe").size() == 1; }));

    const auto asked = std::chrono::steady_clock::now();
    run.Signal(SIGTERM);
    const auto status = run.WaitForExit();
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 10000ms / 60) << "no grace period";
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_TRUE(Eventually([&] { return NoneRuns(run, kSuite); }));
    EXPECT_TRUE(Eventually([&] { return run.EndOf(phone) && run.EndOf(skype); }));
    EXPECT_FALSE(run.EndOf(bystander).has_value());
    EXPECT_EQ(run.StatusLines().back(), "Configuration Service Stopped");
    EXPECT_TRUE(Eventually([&] { return run.EndOf(alerts) == W_EXITCODE(7, 0); }));
    EXPECT_TRUE(Eventually([&] { return run.EndOf(manager) == W_EXITCODE(0, SIGKILL); }));
    EXPECT_EQ(run.CountInLog("Stop: asked "), 1U) << run.Log();
}

TEST(Stop, InterruptWithoutATerminalIsAnsweredNoAndChangesNothing) {
    SuiteRun run;
    ASSERT_TRUE(run.WaitForStatus("Ostrivan Monitoring Service Running"));
    run.Signal(SIGINT);
    ASSERT_TRUE(run.WaitForLog("message box \"Stop Service\": Are you sure you want to unload "
                               "the service?... the service will be stopped -> No"));
    run.Signal(SIGHUP);
    ASSERT_TRUE(run.WaitForLog("message box \"Stop Service\"", 2));
    EXPECT_FALSE(run.EndOf(run.ServicePid()).has_value());
    EXPECT_EQ(run.Running("vantorelle_watcher.exe").size(), 1U);
    EXPECT_EQ(run.StatusLines().back(), "Ostrivan Monitoring Service Running");
}

TEST(Stop, InterruptOnATerminalAsksAndYesStopsTheSuite) {
    posix::testing::Terminal terminal;
    SuiteRun run(RunOptions().OnTerminal(terminal));
    ASSERT_NE(terminal.ReadUntil("Ostrivan Monitoring Service Running").find("Running"),
              std::string::npos);
    ASSERT_TRUE(Eventually([&] { return run.Running("vantorelle_watcher.exe").size() == 1; }));

    run.Signal(SIGINT);
    const std::string question = terminal.ReadUntil("[y/n] ");
    EXPECT_NE(question.find("[Stop Service]\r\nAre you sure you want to unload the "
                            "service?...\r\nthe service will be stopped\r\nYes or no? [y/n] "),
              std::string::npos)
        << question;
    terminal.Type("n\n");
    EXPECT_NE(terminal.ReadUntil("Running").find("Running"), std::string::npos);

    run.Signal(SIGINT);
    terminal.ReadUntil("[y/n] ");
    terminal.Type("y\n");
    const auto status = run.WaitForExit();
    ASSERT_TRUE(status);
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    const std::string rest = terminal.ReadUntil("Configuration Service Stopped");
    EXPECT_NE(rest.find("Ostrivan Monitoring Service Stopping"), std::string::npos) << rest;
    EXPECT_NE(rest.find("Configuration Service Stopped"), std::string::npos) << rest;
    EXPECT_TRUE(Eventually([&] { return NoneRuns(run, kSuite); }));
}

// Without systemd nothing else would end them: the next start would add a second suite.
TEST(Stop, AServiceKilledOutrightTakesTheProgramsItLaunchedWithIt) {
    SuiteRun run;
    ASSERT_TRUE(Eventually([&] { return run.Running("vantorelle_watcher.exe").size() == 1; }));
    std::vector<pid_t> launched;
    for (const auto& program : kSuite) {
        const auto pids = run.Running(program);
        ASSERT_EQ(pids.size(), 1U) << program;
        launched.push_back(pids.front());
    }
    const pid_t bystander = run.StartExtra("o-alerts.exe");
    ASSERT_TRUE(Eventually([&] { return run.Running("o-alerts.exe").size() == 2; }));

    run.Signal(SIGKILL);
    ASSERT_TRUE(run.WaitForExit());
    for (const pid_t pid : launched) {
        std::optional<int> status;
        EXPECT_TRUE(Eventually([&] { return (status = run.EndOf(pid)).has_value(); }, 10s)) << pid;
        if (status) {
            EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL) << *status;
        }
    }
    EXPECT_EQ(run.Running("o-alerts.exe"), std::vector<pid_t>{bystander});
}

} // namespace
} // namespace ostrivan::integration
