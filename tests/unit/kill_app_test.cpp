#include "fake_platform.h"

#include "process/kill_app.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>

namespace ostrivan {
namespace {

using fakes::FakeProcess;
using fakes::FakeProcessApi;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// A check that takes whatever process carries the id.
bool AnyProcess(Handle) {
    return true;
}

class KillTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(api.OpenHandleCount(), 0u) << "a handle was left open";
        EXPECT_EQ(api.BadCloses(), 0) << "a handle was closed that was not open";
        EXPECT_FALSE(api.PrivilegeEnabled()) << "the debug privilege was left enabled";
    }

    // A process that only opens while the debug privilege is enabled.
    ProcessId AddSystemProcess(const std::string& name) {
        FakeProcess process;
        process.imageName = name;
        process.needsDebugPrivilege = true;
        return api.Add(process).id;
    }

    fakes::CallLog log;
    FakeProcessApi api{log};
};

// --- KillProcess

TEST_F(KillTest, RaisesThePrivilegeAroundTheTerminationOnNt) {
    const ProcessId id = api.Add("o-alerts.exe");

    EXPECT_TRUE(KillProcess(api, id, 7, AnyProcess));

    EXPECT_THAT(log.Only({"api."}),
                ElementsAre("api.GetVersion", "api.OpenProcessToken 0x28",
                            "api.LookupPrivilegeValueA  SeDebugPrivilege",
                            "api.AdjustTokenPrivileges 2",
                            "api.OpenProcess 0x1f0fff " + std::to_string(id),
                            StartsWith("api.TerminateProcess "), StartsWith("api.CloseHandle "),
                            "api.AdjustTokenPrivileges 0", StartsWith("api.CloseHandle ")));
    ASSERT_EQ(api.Terminations().size(), 1u);
    const auto& t = api.Terminations()[0];
    EXPECT_EQ(t.id, id);
    EXPECT_EQ(t.exitCode, 7u);
    EXPECT_EQ(t.access, access::kAllAccessNt5);
    EXPECT_TRUE(t.withDebugPrivilege);
    EXPECT_THAT(api.PrivilegeChanges(), ElementsAre(kPrivilegeEnabled, kPrivilegeDisabled));
}

TEST_F(KillTest, TerminatesASystemProcessOnlyThanksToThePrivilege) {
    const ProcessId id = AddSystemProcess("winlogon.exe");
    EXPECT_TRUE(KillProcess(api, id, 0, AnyProcess));
    EXPECT_FALSE(api.IsRunning(id));
}

class KillProcessPrivilegeStepFails : public KillTest,
                                      public ::testing::WithParamInterface<const char*> {};

TEST_P(KillProcessPrivilegeStepFails, AttemptsNoTerminationAtAll) {
    const ProcessId id = api.Add("o-alerts.exe");
    api.Faults().Fail(GetParam());

    EXPECT_FALSE(KillProcess(api, id, 0, AnyProcess));

    EXPECT_EQ(api.Calls("OpenProcess"), 0);
    EXPECT_THAT(api.Terminations(), IsEmpty());
    EXPECT_TRUE(api.IsRunning(id));
    EXPECT_THAT(api.PrivilegeChanges(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(EachStep, KillProcessPrivilegeStepFails,
                         ::testing::Values("OpenProcessToken", "LookupPrivilegeValueA",
                                           "AdjustTokenPrivileges"));

TEST_F(KillTest, LowersThePrivilegeWhenTheProcessIsGone) {
    const ProcessId id = api.Add("o-alerts.exe");
    api.Remove(id);

    EXPECT_FALSE(KillProcess(api, id, 0, AnyProcess));
    EXPECT_THAT(api.PrivilegeChanges(), ElementsAre(kPrivilegeEnabled, kPrivilegeDisabled));
}

TEST_F(KillTest, LowersThePrivilegeWhenTheTerminationIsRefused) {
    FakeProcess stubborn;
    stubborn.imageName = "o-alerts.exe";
    stubborn.refusesTermination = true;
    const ProcessId id = api.Add(stubborn).id;

    EXPECT_FALSE(KillProcess(api, id, 0, AnyProcess));
    EXPECT_TRUE(api.IsRunning(id));
    EXPECT_THAT(api.PrivilegeChanges(), ElementsAre(kPrivilegeEnabled, kPrivilegeDisabled));
}

TEST_F(KillTest, PrivilegeNotGrantedStillAttemptsWithTheRightsAlreadyHeld) {
    api.SetAdjustGrants(false);
    const ProcessId ordinary = api.Add("o-alerts.exe");
    const ProcessId system = AddSystemProcess("winlogon.exe");

    EXPECT_TRUE(KillProcess(api, ordinary, 0, AnyProcess));
    EXPECT_FALSE(KillProcess(api, system, 0, AnyProcess));

    EXPECT_FALSE(api.IsRunning(ordinary));
    EXPECT_TRUE(api.IsRunning(system));
    ASSERT_FALSE(api.Terminations().empty());
    EXPECT_FALSE(api.Terminations()[0].withDebugPrivilege);
}

TEST_F(KillTest, OutsideTheNtFamilyOpensNoToken) {
    api.SetVersion(FakeProcessApi::kWindows98Version);
    const ProcessId id = api.Add("o-alerts.exe");

    EXPECT_TRUE(KillProcess(api, id, 3, AnyProcess));

    EXPECT_EQ(api.Calls("OpenProcessToken"), 0);
    EXPECT_EQ(api.Calls("LookupPrivilegeValueA"), 0);
    EXPECT_THAT(api.PrivilegeChanges(), IsEmpty());
    ASSERT_EQ(api.Terminations().size(), 1u);
    EXPECT_EQ(api.Terminations()[0].exitCode, 3u);
    EXPECT_EQ(api.Terminations()[0].access, access::kAllAccessNt5);
}

TEST_F(KillTest, NothingCarriesOverFromOneCallToTheNext) {
    const ProcessId a = api.Add("a.exe");
    const ProcessId b = api.Add("b.exe");
    EXPECT_TRUE(KillProcess(api, a, 0, AnyProcess));
    EXPECT_TRUE(KillProcess(api, b, 0, AnyProcess));
    EXPECT_EQ(api.Calls("OpenProcessToken"), 2);
    EXPECT_THAT(api.PrivilegeChanges(), ElementsAre(2u, 0u, 2u, 0u));
}

// --- KillApp

TEST_F(KillTest, KillAppTerminatesEveryMatchInSnapshotOrderWithExitCodeZero) {
    const ProcessId upper = api.Add("O-ALERTS.EXE");
    api.Add("o-graphs.exe");
    const ProcessId prefixed = api.Add("old-o-alerts.exe");
    const ProcessId same = api.Add("o-alerts.exe");
    const ProcessId system = AddSystemProcess("o-alerts.exe");

    EXPECT_TRUE(KillApp(api, "O-Alerts.Exe"));

    EXPECT_THAT(api.TerminatedIds(), ElementsAre(upper, prefixed, same, system));
    for (const auto& t : api.Terminations()) {
        EXPECT_EQ(t.exitCode, 0u);
        EXPECT_EQ(t.access, access::kAllAccessNt5);
    }
    EXPECT_EQ(api.Running().size(), 1u);
    EXPECT_EQ(api.Calls("CreateToolhelp32Snapshot"), 1);
}

TEST_F(KillTest, KillAppWithoutAMatchOpensNothingButTheSnapshot) {
    api.Add("o-graphs.exe");
    api.Add("alerts.exe");

    EXPECT_FALSE(KillApp(api, "o-alerts.exe"));

    EXPECT_THAT(api.Opens(), IsEmpty());
    EXPECT_EQ(api.Calls("OpenProcessToken"), 0);
    EXPECT_THAT(api.Terminations(), IsEmpty());
}

TEST_F(KillTest, KillAppReportsAMatchEvenWhenItCouldNotTerminate) {
    FakeProcess stubborn;
    stubborn.imageName = "skype.exe";
    stubborn.refusesTermination = true;
    api.Add(stubborn);
    FakeProcess unopenable;
    unopenable.imageName = "skype.exe";
    unopenable.onlyAccess = std::set<std::uint32_t>{};
    api.Add(unopenable);

    EXPECT_TRUE(KillApp(api, "skype.exe"));
    EXPECT_THAT(api.Terminations(), IsEmpty());
    // One open each, and one more to tell whether the unopenable one is still there.
    EXPECT_EQ(api.Calls("OpenProcess"), 3);
}

TEST_F(KillTest, KillAppWithoutASnapshotTerminatesNothing) {
    api.Add("skype.exe");
    api.Faults().Fail("CreateToolhelp32Snapshot");

    EXPECT_FALSE(KillApp(api, "skype.exe"));
    EXPECT_THAT(api.Terminations(), IsEmpty());
}

TEST_F(KillTest, KillAppIgnoresRowsAfterTheEnumerationFailed) {
    const ProcessId first = api.Add("skype.exe");
    api.Add("skype.exe");
    api.Faults().Fail("Process32Next", 1);

    EXPECT_TRUE(KillApp(api, "skype.exe"));
    EXPECT_THAT(api.TerminatedIds(), ElementsAre(first));
}

TEST_F(KillTest, KillAppAbsorbsAFailureRaisedMidWalk) {
    api.Add("skype.exe");
    const ProcessId second = api.Add("skype.exe");
    api.Faults().Raise("TerminateProcess", std::make_exception_ptr(std::bad_alloc()), 1);

    bool result = false;
    EXPECT_NO_THROW(result = KillApp(api, "skype.exe"));

    EXPECT_TRUE(result);
    EXPECT_TRUE(api.IsRunning(second)) << "rows after the failure are not examined";
    EXPECT_THAT(api.PrivilegeChanges(), ElementsAre(2u, 0u));
}

TEST_F(KillTest, KillAppAbsorbsAFailureRaisedWhileEnumerating) {
    api.Add("skype.exe");
    api.Faults().Raise("Process32First", std::make_exception_ptr(std::bad_alloc()));

    bool result = true;
    EXPECT_NO_THROW(result = KillApp(api, "skype.exe"));
    EXPECT_FALSE(result);
}

TEST_F(KillTest, KillAppWithAnEmptyTargetTerminatesNothing) {
    api.Add("skype.exe");

    EXPECT_FALSE(KillApp(api, ""));
    EXPECT_THAT(api.Terminations(), IsEmpty());
}

} // namespace
} // namespace ostrivan
