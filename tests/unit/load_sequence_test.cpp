#include "fake_platform.h"

#include "supervisor/status_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <new>

namespace ostrivan {
namespace {

using fakes::EventLogEntry;
using fakes::StoredParameter;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class LoadTest : public ::testing::Test {
protected:
    std::vector<std::string> HostAndRuntime() const { return s.log.Only({"host.", "runtime."}); }

    fakes::FakeService s;
};

TEST_F(LoadTest, WithoutArgumentConnectsAndStaysLoaded) {
    s.form.Load();

    EXPECT_THAT(HostAndRuntime(),
                ElementsAre("runtime.CommandLineArguments", "runtime.SetStatusText Loading",
                            "runtime.SetTimerInterval 60000", "host.AcceptedControls 2",
                            "host.Connect"));
    EXPECT_FALSE(s.runtime.EndedWith());
    EXPECT_EQ(s.runtime.StatusText(), status::kLoading);
    EXPECT_TRUE(s.runtime.TimerEnabled());
    EXPECT_THAT(s.runtime.MessageBoxes(), IsEmpty());
    EXPECT_THAT(s.host.Events(), IsEmpty());
    EXPECT_EQ(s.form.State().CheckTable.size(), 1u);
    EXPECT_FALSE(s.form.State().IsStopping);
}

TEST_F(LoadTest, InstallRegistersSavesTheIntervalConnectsAndEnds) {
    s.runtime.SetArguments("-install");

    s.form.Load();

    EXPECT_THAT(HostAndRuntime(),
                ElementsAre("runtime.CommandLineArguments", "runtime.SetStatusText Loading",
                            "runtime.ApplicationFolder", "host.RegistrationOption false",
                            "host.Register", "host.SaveParameter Parameters TimerInterval 60000",
                            "host.Connect", "runtime.End 0"));
    EXPECT_THAT(s.host.Parameters(),
                ElementsAre(StoredParameter{"Parameters", "TimerInterval", "60000"}));
    EXPECT_EQ(s.runtime.EndedWith(), 0);
    EXPECT_THAT(s.runtime.MessageBoxes(), IsEmpty());
}

// A program that others may change is warned of once, at -install before the
// registration and at the start before the first launch; the service carries on.
TEST_F(LoadTest, LoosePermissionsAreWarnedOfAtInstallAndAtStartBeforeAnythingElse) {
    const std::string manager = s.runtime.PathOf("vantorelle_manager.exe");
    const std::vector<EventLogEntry> warning = {
        {2, 3,
         manager + " can be changed by Users, Interactive: whoever can change it can have a "
                   "program run with this service's rights."}};
    auto before = [](const fakes::FakeService& service, const std::string& later) {
        const auto log = service.log.Entries();
        const auto first = [&](const std::string& prefix) {
            return std::find_if(log.begin(), log.end(),
                                [&](const std::string& e) { return e.starts_with(prefix); });
        };
        return first("host.WriteEvent 2 3 ") < first(later);
    };

    s.security.SetWriters(manager, {"Users", "Interactive"});
    s.runtime.SetArguments("-install");
    s.form.Load();
    EXPECT_EQ(s.host.Events(), warning);
    EXPECT_TRUE(before(s, "host.Register"));
    EXPECT_EQ(s.runtime.EndedWith(), 0);

    fakes::FakeService started;
    for (const char* program : {"o-alerts.exe", "o-graphs.exe", "vantorelle_snmptrap.exe",
                                "vantorelle_manager.exe", "vantorelle_watcher.exe"}) {
        started.runtime.AddProgram(program);
    }
    started.security.SetWriters(manager, {"Users", "Interactive"});
    started.form.Load();
    HostFlag success = kHostFalse;
    started.form.OnStart(success);
    EXPECT_EQ(started.host.Events(), warning);
    EXPECT_TRUE(before(started, "runtime.LaunchProgram"));
    EXPECT_EQ(started.runtime.Launches().size(), 5u);
}

TEST_F(LoadTest, InstallThatCannotRegisterSavesNothingButStillConnectsAndEndsWithFailure) {
    s.runtime.SetArguments("-install");
    s.host.SetRegisterResult(false);

    s.form.Load();

    EXPECT_THAT(s.host.Parameters(), IsEmpty());
    EXPECT_EQ(s.host.Calls("Connect"), 1);
    EXPECT_EQ(s.runtime.EndedWith(), 1);
    EXPECT_THAT(s.host.Events(), IsEmpty());
    EXPECT_THAT(s.runtime.MessageBoxes(), IsEmpty());
}

TEST_F(LoadTest, RemoveUnregistersAndEnds) {
    s.runtime.SetArguments("-remove");

    s.form.Load();

    EXPECT_THAT(HostAndRuntime(),
                ElementsAre("runtime.CommandLineArguments", "runtime.SetStatusText Loading",
                            "host.Unregister", "runtime.End 0"));
}

TEST_F(LoadTest, RemoveThatCannotUnregisterEndsWithFailure) {
    s.runtime.SetArguments("-remove");
    s.host.SetUnregisterResult(false);

    s.form.Load();

    EXPECT_EQ(s.runtime.EndedWith(), 1);
    EXPECT_THAT(s.host.Events(), IsEmpty());
}

class LoadWithInvalidArgument : public LoadTest,
                                public ::testing::WithParamInterface<const char*> {};

TEST_P(LoadWithInvalidArgument, ShowsInvalidParameterAndEnds) {
    s.runtime.SetArguments(GetParam());

    s.form.Load();

    ASSERT_EQ(s.runtime.MessageBoxes().size(), 1u);
    const auto& box = s.runtime.MessageBoxes()[0];
    EXPECT_EQ(box.text, "Invalid Parameter");
    EXPECT_EQ(box.style, box::kOkOnly);
    EXPECT_EQ(box.title, std::nullopt);
    EXPECT_EQ(s.runtime.EndedWith(), 2);
    EXPECT_THAT(s.log.Only({"host."}), IsEmpty());
    EXPECT_GT(s.log.IndexOf("runtime.End 2"),
              s.log.IndexOf("runtime.ShowMessageBox Invalid Parameter"));
}

INSTANTIATE_TEST_SUITE_P(ExactCaseWholeText, LoadWithInvalidArgument,
                         ::testing::Values("-INSTALL", "-Install", "-install now", "-install ",
                                           " -install", "-Remove", "-remove -install", "/install",
                                           "x", "-STATUS", "-check now", " -status"));

struct FailingStep {
    const char* arguments;
    const char* part; // "host" or "runtime"
    const char* call;
    bool connectedAfterwards;
};

void PrintTo(const FailingStep& step, std::ostream* out) {
    *out << "'" << step.arguments << "' " << step.part << "." << step.call;
}

class LoadWithFailingCall : public LoadTest, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(LoadWithFailingCall, ReportsThenStaysLoadedOnlyWithoutAnArgument) {
    const FailingStep& step = GetParam();
    s.runtime.SetArguments(step.arguments);
    if (std::string(step.part) == "host") {
        s.host.Faults().Fail(step.call, 1);
    } else {
        s.runtime.Faults().Fail(step.call, 1);
    }

    EXPECT_NO_THROW(s.form.Load());

    EXPECT_THAT(s.host.Events(),
                ElementsAre(EventLogEntry{109, 1, "[440] " + std::string(step.call) + " failed"}));
    EXPECT_EQ(s.runtime.EndedWith(),
              *step.arguments == '\0' ? std::nullopt : std::optional<int>(1));
    EXPECT_EQ(s.host.Connected(), step.connectedAfterwards);
    EXPECT_TRUE(s.runtime.TimerEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, LoadWithFailingCall,
    ::testing::Values(FailingStep{"", "runtime", "SetStatusText", false},
                      FailingStep{"", "runtime", "CommandLineArguments", false},
                      FailingStep{"", "runtime", "SetTimerInterval", false},
                      FailingStep{"", "host", "AcceptedControls", false},
                      FailingStep{"", "host", "Connect", false},
                      FailingStep{"-install", "runtime", "SetStatusText", false},
                      FailingStep{"-install", "host", "RegistrationOption", false},
                      FailingStep{"-install", "host", "Register", false},
                      FailingStep{"-install", "host", "SaveParameter", false},
                      FailingStep{"-install", "host", "Connect", false},
                      FailingStep{"-install", "runtime", "End", true},
                      FailingStep{"-remove", "runtime", "CommandLineArguments", false},
                      FailingStep{"-remove", "host", "Unregister", false},
                      FailingStep{"-remove", "runtime", "End", false},
                      FailingStep{"bogus", "runtime", "ShowMessageBox", false},
                      FailingStep{"bogus", "runtime", "End", false}));

TEST_F(LoadTest, FailureWithAnotherNumberIsReportedWithThatNumber) {
    s.host.Faults().Raise("Connect",
                          std::make_exception_ptr(Failure(-2147023838, "Access is denied.")));

    s.form.Load();

    EXPECT_THAT(s.host.Events(),
                ElementsAre(EventLogEntry{109, 1, "[-2147023838] Access is denied."}));
}

TEST_F(LoadTest, RunningOutOfMemoryIsReportedAsNumberSeven) {
    s.host.Faults().Raise("AcceptedControls", std::make_exception_ptr(std::bad_alloc()));

    EXPECT_NO_THROW(s.form.Load());

    EXPECT_THAT(s.host.Events(), ElementsAre(EventLogEntry{109, 1, "[7] Out of memory"}));
    EXPECT_FALSE(s.host.Connected());
}

TEST_F(LoadTest, ReportThatCannotBeWrittenIsSwallowed) {
    s.host.Faults().Fail("Connect");
    s.host.Faults().Fail("WriteEvent");

    EXPECT_NO_THROW(s.form.Load());

    EXPECT_EQ(s.host.Calls("WriteEvent"), 1);
    EXPECT_THAT(s.host.Events(), IsEmpty());
    EXPECT_FALSE(s.runtime.EndedWith());
}

} // namespace
} // namespace ostrivan
