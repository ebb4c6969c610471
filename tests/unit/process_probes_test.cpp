#include "fake_platform.h"

#include "process/launch.h"
#include "process/process_probes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ostrivan {
namespace {

using fakes::FakeProcess;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ProbeTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(platform.processes.OpenHandleCount(), 0u) << "a handle was left open";
        EXPECT_EQ(platform.processes.BadCloses(), 0);
    }

    std::vector<std::uint32_t> AccessAsked() const {
        std::vector<std::uint32_t> masks;
        for (const auto& open : api.Opens()) {
            masks.push_back(open.access);
        }
        return masks;
    }

    // What the service recorded of `id` while it ran; a creation time no process has once
    // it is gone.
    ProcessIdentity Identity(ProcessId id) const {
        const FakeProcess* process = api.Find(id);
        return {id, process != nullptr ? process->creationTime : 0};
    }

    fakes::FakePlatform platform;
    fakes::FakeProcessApi& api = platform.processes;
    fakes::FakeRuntime& runtime = platform.runtime;
};

// --- GetExitStatus

TEST_F(ProbeTest, ExitStatusOfARunningProcessIsStillActive) {
    const ProcessId id = api.Add("vantorelle_manager.exe");
    EXPECT_EQ(GetExitStatus(api, Identity(id)), kStillActive);
    EXPECT_THAT(AccessAsked(), ElementsAre(access::kQueryInformation));
}

TEST_F(ProbeTest, ExitStatusOfAnEndedProcessIsItsExitCode) {
    const ProcessId ended = api.Add("vantorelle_manager.exe");
    api.Exit(ended, 3, /*heldElsewhere=*/true);
    const ProcessId endedWithStillActive = api.Add("vantorelle_manager.exe");
    api.Exit(endedWithStillActive, kStillActive, /*heldElsewhere=*/true);

    EXPECT_EQ(GetExitStatus(api, Identity(ended)), 3u);
    EXPECT_EQ(GetExitStatus(api, Identity(endedWithStillActive)), kStillActive);
}

TEST_F(ProbeTest, ExitStatusThatCannotBeReadIsZero) {
    const ProcessId gone = api.Add("a.exe");
    api.Exit(gone, 5);
    FakeProcess terminateOnly;
    terminateOnly.onlyAccess = std::set<std::uint32_t>{access::kTerminate};
    const ProcessId unqueryable = api.Add(terminateOnly).id;
    const ProcessId running = api.Add("b.exe");

    EXPECT_EQ(GetExitStatus(api, Identity(gone)), 0u);
    EXPECT_EQ(GetExitStatus(api, Identity(unqueryable)), 0u);
    EXPECT_EQ(GetExitStatus(api, Identity(0)), 0u);
    api.Faults().Fail("GetExitCodeProcess");
    EXPECT_EQ(GetExitStatus(api, Identity(running)), 0u);
}

// --- GetWorkingSetSize

TEST_F(ProbeTest, WorkingSetIsReadWithQueryAndReadAccess) {
    const ProcessId id = api.Add("vantorelle_manager.exe", 123'456'789);
    EXPECT_EQ(GetWorkingSetSize(api, Identity(id)), 123'456'789u);
    EXPECT_THAT(AccessAsked(), ElementsAre(access::kQueryInformation | access::kVmRead));
}

TEST_F(ProbeTest, WorkingSetOf2GiBAndMoreKeepsItsFullSize) {
    // The platform refuses any record size but its own, so a value read at all proves the
    // size passed was the platform's.
    const ProcessId twoGiB = api.Add("vantorelle_manager.exe", 0x8000'0000ull);
    const ProcessId fourGiBAndSome = api.Add("vantorelle_manager.exe", 0x1'0000'0005ull);

    EXPECT_EQ(GetWorkingSetSize(api, Identity(twoGiB)), 0x8000'0000ull);
    EXPECT_EQ(GetWorkingSetSize(api, Identity(fourGiBAndSome)), 0x1'0000'0005ull);
    EXPECT_GT(GetWorkingSetSize(api, Identity(fourGiBAndSome)), 262'144'000u);
}

TEST_F(ProbeTest, WorkingSetThatCannotBeReadIsZero) {
    const ProcessId gone = api.Add("a.exe", 500);
    api.Remove(gone);
    FakeProcess queryOnly;
    queryOnly.workingSet = 500;
    queryOnly.onlyAccess = std::set<std::uint32_t>{access::kQueryInformation};
    const ProcessId unreadable = api.Add(queryOnly).id;
    const ProcessId failing = api.Add("b.exe", 500);

    EXPECT_EQ(GetWorkingSetSize(api, Identity(gone)), 0u);
    EXPECT_EQ(GetWorkingSetSize(api, Identity(unreadable)), 0u);
    api.Faults().Fail("GetProcessMemoryInfo");
    EXPECT_EQ(GetWorkingSetSize(api, Identity(failing)), 0u);
}

// --- EndProcess

TEST_F(ProbeTest, EndProcessTerminatesWithTheGivenCodeAndNoPrivilege) {
    const ProcessId id = api.Add("vantorelle_manager.exe");

    EndProcess(api, Identity(id), kStillActive);

    ASSERT_EQ(api.Terminations().size(), 1u);
    EXPECT_EQ(api.Terminations()[0].id, id);
    EXPECT_EQ(api.Terminations()[0].exitCode, kStillActive);
    EXPECT_EQ(api.Terminations()[0].access,
              access::kTerminate | access::kQueryLimitedInformation | access::kSynchronize);
    EXPECT_EQ(api.Calls("OpenProcessToken"), 0);
    EXPECT_THAT(api.PrivilegeChanges(), IsEmpty());
}

// Refused only for a process that still runs: one ended but still held open (a zombie) is gone.
TEST_F(ProbeTest, EndProcessTellsWhatBecameOfTheProcessAndRaisesNothing) {
    const ProcessId gone = api.Add("a.exe");
    api.Remove(gone);
    const ProcessId ended = api.Add("b.exe");
    api.Exit(ended, 0, /*heldElsewhere=*/true);
    FakeProcess stubborn;
    stubborn.refusesTermination = true;
    const ProcessId refused = api.Add(stubborn).id;

    EXPECT_EQ(EndProcess(api, Identity(gone), 259), Action::AlreadyGone);
    EXPECT_EQ(EndProcess(api, Identity(ended), 259), Action::AlreadyGone);
    EXPECT_EQ(EndProcess(api, Identity(refused), 259), Action::TerminationRefused);
    EXPECT_TRUE(api.IsRunning(refused));
    EXPECT_THAT(api.Terminations(), IsEmpty());
    EXPECT_EQ(EndProcess(api, Identity(api.Add("c.exe")), 259), Action::Terminated);
}

// --- AppFolder and Launch

TEST_F(ProbeTest, AppFolderHasNoTrailingSeparator) {
    runtime.SetFolder("D:\\suite");
    EXPECT_EQ(AppFolder(runtime), "D:\\suite");
    runtime.SetFolder("D:\\");
    EXPECT_EQ(AppFolder(runtime), "D:");
}

TEST_F(ProbeTest, LaunchHandsOverTheProgramApartAndQuotesItInTheCommandLine) {
    runtime.SetFolder("C:\\Program Files\\Ostrivan");
    runtime.AddProgram("vantorelle_watcher.exe");

    const ProcessId id =
        Launch(runtime, "C:\\Program Files\\Ostrivan\\vantorelle_watcher.exe", "900", kNormalFocus)
            .id;

    ASSERT_EQ(runtime.Launches().size(), 1u);
    const auto& launch = runtime.Launches()[0];
    EXPECT_EQ(launch.programPath, "C:\\Program Files\\Ostrivan\\vantorelle_watcher.exe");
    EXPECT_EQ(launch.commandLine, "\"C:\\Program Files\\Ostrivan\\vantorelle_watcher.exe\" 900");
    EXPECT_EQ(launch.windowStyle, 1);
    EXPECT_EQ(launch.id, id);
    EXPECT_THAT(api.RunningNamed("vantorelle_watcher.exe"), ElementsAre(id));
}

TEST_F(ProbeTest, LaunchWithoutArgumentsIsTheQuotedPathAlone) {
    runtime.AddProgram("vantorelle_manager.exe");
    const std::string path = runtime.PathOf("vantorelle_manager.exe");

    Launch(runtime, path, "", kNormalFocus);

    EXPECT_EQ(runtime.Launches().at(0).commandLine, "\"" + path + "\"");
}

TEST_F(ProbeTest, LaunchOfAMissingProgramRaisesAndStartsNothing) {
    runtime.AddProgram("o-alerts.exe");

    try {
        Launch(runtime, runtime.PathOf("o-graphs.exe"), "", kNormalFocus);
        FAIL() << "a missing program must raise";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.Number(), fakes::kFileNotFound);
        EXPECT_EQ(failure.Description(), fakes::kFileNotFoundText);
    }
    EXPECT_THAT(api.Running(), IsEmpty());
}

TEST_F(ProbeTest, LaunchesGetFreshIdsAndCreationTimes) {
    runtime.AddProgram("o-alerts.exe");
    const auto first = Launch(runtime, runtime.PathOf("o-alerts.exe"), "", kNormalFocus);
    const auto second = Launch(runtime, runtime.PathOf("o-alerts.exe"), "", kNormalFocus);

    EXPECT_NE(first.id, second.id);
    EXPECT_NE(first.creationTime, second.creationTime);
    EXPECT_EQ(first, Identity(first.id));
    EXPECT_EQ(second, Identity(second.id));
    EXPECT_THAT(api.RunningNamed("o-alerts.exe"), ElementsAre(first.id, second.id));
}

} // namespace
} // namespace ostrivan
