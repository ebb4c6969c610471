#include "supervisor_fixture.h"

#include <cstdlib>
#include <ctime>
#include <functional>
#include <set>

namespace ostrivan::testing {
namespace {

constexpr std::uint64_t kOverCeiling = 262'144'001;

class ActionRecordTest;

// What one kind of action must leave in the action log. `act` drives the service and
// returns the process id the record must name (0: any but 0).
struct ActionCase {
    using Act = std::function<ProcessId(ActionRecordTest&, fakes::FakeService&)>;
    ActionCase(const char* name, Act act, Action action, ActionReason reason, std::string program)
        : name(name), act(std::move(act)) {
        expected.action = action;
        expected.reason = reason;
        expected.program = std::move(program);
    }
    ActionCase&& Arguments(std::string text) && {
        expected.arguments = std::move(text);
        return std::move(*this);
    }
    ActionCase&& ExitCode(std::uint32_t code) && {
        expected.exitCode = code;
        return std::move(*this);
    }
    ActionCase&& WorkingSet(std::uint64_t bytes) && {
        expected.workingSet = bytes;
        return std::move(*this);
    }
    ActionCase&& FirstSeenUtc(std::int64_t seconds) && {
        expected.firstSeenUtc = seconds;
        return std::move(*this);
    }
    const char* name;
    Act act;
    ActionRecord expected;
};

void PrintTo(const ActionCase& c, std::ostream* os) {
    *os << c.name;
}

class ActionRecordTest : public SupervisorTest, public ::testing::WithParamInterface<ActionCase> {
protected:
    // One hour ahead of UTC all year, so that a first sighting shows the zone's offset.
    void SetUp() override {
        ::setenv("TZ", "CET-1", 1);
        ::tzset();
    }
    void TearDown() override {
        ::unsetenv("TZ");
        ::tzset();
    }

public:
    using SupervisorTest::Tick;
};

ProcessId ManagerAfterTick(ActionRecordTest& t, fakes::FakeService& s) {
    t.Tick();
    return s.form.State().ManagerPid.id;
}

ProcessId StartWorkers(fakes::FakeService& s) {
    HostFlag success = kHostFalse;
    s.form.OnStart(success);
    return 0;
}

const ActionCase kCases[] = {
    ActionCase(
        "StartUpLaunch", [](ActionRecordTest&, fakes::FakeService& s) { return StartWorkers(s); },
        Action::Launched, ActionReason::StartUp, "o-alerts.exe"),
    std::move(ActionCase(
                  "StartUpLaunchWithArguments",
                  [](ActionRecordTest&, fakes::FakeService& s) { return StartWorkers(s); },
                  Action::Launched, ActionReason::StartUp, "vantorelle_watcher.exe"))
        .Arguments("900"),
    ActionCase(
        "ManagerFirstLaunch",
        [](ActionRecordTest& t, fakes::FakeService& s) { return ManagerAfterTick(t, s); },
        Action::Launched, ActionReason::ManagerFirstLaunch, "vantorelle_manager.exe"),
    std::move(ActionCase(
                  "ManagerEnded",
                  [](ActionRecordTest& t, fakes::FakeService& s) {
                      s.processes.Exit(ManagerAfterTick(t, s), 3, /*heldElsewhere=*/true);
                      return ManagerAfterTick(t, s);
                  },
                  Action::Launched, ActionReason::ManagerEnded, "vantorelle_manager.exe"))
        .ExitCode(3),
    std::move(ActionCase(
                  "ManagerOverCeilingTerminated",
                  [](ActionRecordTest& t, fakes::FakeService& s) {
                      const ProcessId first = ManagerAfterTick(t, s);
                      s.processes.At(first).workingSet = kOverCeiling;
                      t.Tick();
                      return first;
                  },
                  Action::Terminated, ActionReason::ManagerOverCeiling, "vantorelle_manager.exe"))
        .ExitCode(259)
        .WorkingSet(kOverCeiling),
    std::move(ActionCase(
                  "ManagerOverCeilingRelaunched",
                  [](ActionRecordTest& t, fakes::FakeService& s) {
                      s.processes.At(ManagerAfterTick(t, s)).workingSet = kOverCeiling;
                      return ManagerAfterTick(t, s);
                  },
                  Action::Launched, ActionReason::ManagerOverCeiling, "vantorelle_manager.exe"))
        .WorkingSet(kOverCeiling),
    ActionCase(
        "ShortLivedToolTerminated",
        [](ActionRecordTest& t, fakes::FakeService& s) {
            const ProcessId tool = s.processes.Add("RRDTOOL.EXE");
            t.Tick();
            t.Tick();
            return tool;
        },
        Action::Terminated, ActionReason::ShortLivedTool, "rrdtool.exe"),
    ActionCase(
        "ShortLivedToolAlreadyGone",
        [](ActionRecordTest& t, fakes::FakeService& s) {
            const ProcessId tool = s.processes.Add("rrdtool.exe");
            t.Tick();
            s.processes.Remove(tool);
            t.Tick();
            return tool;
        },
        Action::AlreadyGone, ActionReason::ShortLivedTool, ""),
    ActionCase(
        "ShortLivedToolRefused",
        [](ActionRecordTest& t, fakes::FakeService& s) {
            fakes::FakeProcess tool;
            tool.imageName = "klaxo_msn.exe";
            tool.refusesTermination = true;
            const ProcessId id = s.processes.Add(tool).id;
            t.Tick();
            t.Tick();
            return id;
        },
        Action::TerminationRefused, ActionReason::ShortLivedTool, "klaxo_msn.exe"),
    std::move(ActionCase(
                  "OverdueCheckWithItsFirstSighting",
                  [](ActionRecordTest& t, fakes::FakeService& s) {
                      s.runtime.SetNow(LocalDateTime{2026, 1, 15, 9, 59, 30, 0});
                      const ProcessId check = s.processes.Add("nightly_check.exe");
                      for (int sweep = 0; sweep < 5; ++sweep) {
                          t.Tick(); // first seen at 10:00:30 local, reaped four sweeps on
                      }
                      return check;
                  },
                  Action::Terminated, ActionReason::OverdueCheck, "nightly_check.exe"))
        .FirstSeenUtc(1'768'467'630), // 2026-01-15 09:00:30 UTC
    ActionCase(
        "StartupList",
        [](ActionRecordTest&, fakes::FakeService& s) {
            const ProcessId stale = s.processes.Add("skype.exe");
            StartWorkers(s);
            return stale;
        },
        Action::Terminated, ActionReason::StartupList, "skype.exe"),
    ActionCase(
        "ShutdownList",
        [](ActionRecordTest&, fakes::FakeService& s) {
            const ProcessId alerts = s.processes.Add("o-alerts.exe");
            s.form.OnStop();
            return alerts;
        },
        Action::Terminated, ActionReason::ShutdownList, "o-alerts.exe"),
    ActionCase(
        "ShutdownListRefusedTheAccess",
        [](ActionRecordTest&, fakes::FakeService& s) {
            fakes::FakeProcess guarded;
            guarded.imageName = "o-graphs.exe";
            guarded.onlyAccess = std::set<std::uint32_t>{access::kQueryLimitedInformation};
            const ProcessId id = s.processes.Add(guarded).id;
            s.form.OnStop();
            return id;
        },
        Action::TerminationRefused, ActionReason::ShutdownList, "o-graphs.exe"),
};

TEST_P(ActionRecordTest, CarriesItsReason) {
    const ActionCase& c = GetParam();
    const ProcessId pid = c.act(*this, s);
    const ActionRecord* found = nullptr;
    for (const auto& record : s.actions.Records()) {
        if (record.action == c.expected.action && record.reason == c.expected.reason &&
            record.program == c.expected.program && (pid == 0 || record.pid == pid)) {
            found = &record;
        }
    }
    ASSERT_NE(found, nullptr) << s.actions.Records().size() << " records, none as expected";
    EXPECT_NE(found->pid, 0u);
    EXPECT_EQ(found->arguments, c.expected.arguments);
    EXPECT_EQ(found->exitCode, c.expected.exitCode);
    EXPECT_EQ(found->workingSet, c.expected.workingSet);
    EXPECT_EQ(found->firstSeenUtc, c.expected.firstSeenUtc);
}

INSTANTIATE_TEST_SUITE_P(EachKind, ActionRecordTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SupervisorTest, EverySweepEndsOnceInTheActionLogEvenWhenItFails) {
    Tick();
    s.runtime.RemoveProgram("vantorelle_manager.exe");
    s.processes.Remove(s.form.State().ManagerPid.id);
    Tick(); // the manager cannot be launched: the sweep ends with a report
    ASSERT_EQ(Events().size(), 1u);
    EXPECT_EQ(s.actions.SweepsEnded(), 2);
}

} // namespace
} // namespace ostrivan::testing
