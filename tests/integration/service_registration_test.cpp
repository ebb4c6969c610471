#include "service_harness.h"

#include "platform/posix/proc_reader.h"

#include <sys/wait.h>

#include <algorithm>

#include <gtest/gtest.h>

namespace ostrivan::integration {
namespace {

int ExitCode(const std::optional<int>& status) {
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

bool NothingLaunched(const SuiteRun& run) {
    for (const char* program : kSuitePrograms) {
        if (!run.Running(program).empty()) {
            return false;
        }
    }
    return run.CountInLog("launched") == 0;
}

TEST(Registration, InstallWritesTheUnitAndItsParameterAndStartsNothing) {
    SuiteRun run(RunOptions().Arguments({"-install"}));
    EXPECT_EQ(ExitCode(run.WaitForExit()), 0);
    EXPECT_EQ(run.UnitFiles(),
              (std::vector<std::string>{"ostrivan.parameters", "ostrivan.service"}));
    const auto unit = posix::ReadSmallFile(run.UnitFolder() + "/ostrivan.service");
    ASSERT_TRUE(unit);
    EXPECT_NE(unit->find("Description=Ostrivan Monitoring Service\n"), std::string::npos);
    EXPECT_NE(unit->find("Type=notify\n"), std::string::npos);
    EXPECT_NE(unit->find("ExecStart=\"" + run.Folder() + "/o-service\"\n"), std::string::npos)
        << *unit;
    EXPECT_NE(unit->find("KillMode=mixed\n"), std::string::npos);
    EXPECT_NE(unit->find("WantedBy=multi-user.target\n"), std::string::npos);
    EXPECT_EQ(posix::ReadSmallFile(run.UnitFolder() + "/ostrivan.parameters"),
              "[Parameters]\nTimerInterval=60000\n");
    EXPECT_TRUE(NothingLaunched(run));
    EXPECT_EQ(run.StatusLines(), std::vector<std::string>{"Loading"});

    // A second registration is refused, says so, and leaves the first as it was.
    run.RunAgain({"-install"});
    EXPECT_EQ(ExitCode(run.WaitForExit()), 1);
    EXPECT_EQ(
        run.CountInLog("not registered: " + run.UnitFolder() + "/ostrivan.service exists already"),
        1U)
        << run.Log();
    EXPECT_EQ(posix::ReadSmallFile(run.UnitFolder() + "/ostrivan.service"), unit);

    run.RunAgain({"-remove"});
    EXPECT_EQ(ExitCode(run.WaitForExit()), 0);
    EXPECT_TRUE(run.UnitFiles().empty());
    EXPECT_TRUE(NothingLaunched(run));
}

TEST(Registration, RemoveWithoutARegistrationFailsAndSaysWhy) {
    SuiteRun run(RunOptions().Arguments({"-remove"}));
    EXPECT_EQ(ExitCode(run.WaitForExit()), 1);
    EXPECT_EQ(
        run.CountInLog("not removed: there is no unit " + run.UnitFolder() + "/ostrivan.service"),
        1U)
        << run.Log();
    EXPECT_TRUE(run.UnitFiles().empty());
    EXPECT_TRUE(NothingLaunched(run));
}

TEST(Registration, AMistypedUnitFolderFailsBothWaysWithOneLineSayingWhy) {
    for (const char* argument : {"-install", "-remove"}) {
        SuiteRun run(RunOptions()
                         .Arguments({argument})
                         .Environment("OSTRIVAN_UNIT_DIR", "/nonexistent/ostrivan-units"));
        EXPECT_EQ(ExitCode(run.WaitForExit()), 1) << argument;
        const std::string log = run.Log();
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
        EXPECT_TRUE(log.ends_with(
            "OSTRIVAN_UNIT_DIR names /nonexistent/ostrivan-units, which does not exist\n"))
            << log;
        EXPECT_TRUE(NothingLaunched(run));
    }
}

TEST(Registration, AnyOtherArgumentIsAnInvalidParameter) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"-INSTALL"}, {"-install", "now"}, {""}, {"-start"}}) {
        SuiteRun run(RunOptions().Arguments(arguments));
        EXPECT_EQ(ExitCode(run.WaitForExit()), 2) << arguments.front();
        EXPECT_EQ(run.CountInLog("message box \"o-service\": Invalid Parameter -> OK"), 1U)
            << run.Log();
        EXPECT_TRUE(run.UnitFiles().empty());
        EXPECT_TRUE(NothingLaunched(run));
    }
}

} // namespace
} // namespace ostrivan::integration
