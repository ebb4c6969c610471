#include "platform/windows/command_text.h"
#include "platform/windows/message_box_rules.h"
#include "platform/windows/service_status_machine.h"

#include <gtest/gtest.h>

namespace ostrivan::windows {
namespace {

TEST(ArgumentText, FollowsAQuotedProgramPathWithBlanks) {
    EXPECT_EQ(ArgumentText(L"\"C:\\Program Files\\Ostrivan\\o-service.exe\" -install"),
              L"-install");
    EXPECT_EQ(ArgumentText(L"\"C:\\Program Files\\Ostrivan\\o-service.exe\""), L"");
    // A quote that never closes takes the whole line as the program.
    EXPECT_EQ(ArgumentText(L"\"C:\\Program Files\\o-service.exe -install"), L"");
}

TEST(ArgumentText, FollowsAnUnquotedProgramAndEveryBlankAfterIt) {
    EXPECT_EQ(ArgumentText(L"o-service.exe -remove"), L"-remove");
    EXPECT_EQ(ArgumentText(L"o-service.exe \t  -remove"), L"-remove");
    EXPECT_EQ(ArgumentText(L"o-service.exe"), L"");
    EXPECT_EQ(ArgumentText(L""), L"");
}

TEST(ArgumentText, KeepsTheArgumentsAsWritten) {
    // Case, inner blanks, quotes and trailing blanks all belong to the argument text, so
    // that only an exact "-install" registers.
    EXPECT_EQ(ArgumentText(L"o-service.exe -Install"), L"-Install");
    EXPECT_EQ(ArgumentText(L"o-service.exe -install now"), L"-install now");
    EXPECT_EQ(ArgumentText(L"o-service.exe -install "), L"-install ");
    EXPECT_EQ(ArgumentText(L"o-service.exe \"a b\""), L"\"a b\"");
    // A quote inside an unquoted program name does not start a quoted part.
    EXPECT_EQ(ArgumentText(L"o-ser\"vice.exe x"), L"x");
}

TEST(FolderOf, DropsTheFileAndEverySeparatorBeforeIt) {
    EXPECT_EQ(FolderOf(L"C:\\Program Files\\Ostrivan Suite\\o-service.exe"),
              L"C:\\Program Files\\Ostrivan Suite");
    EXPECT_EQ(FolderOf(L"C:\\o-service.exe"), L"C:");
    EXPECT_EQ(FolderOf(L"C:\\suite\\\\o-service.exe"), L"C:\\suite");
    EXPECT_EQ(FolderOf(L"C:/suite/o-service.exe"), L"C:/suite");
    EXPECT_EQ(FolderOf(L"o-service.exe"), L"");
}

TEST(QuotedPath, QuotesOnce) {
    EXPECT_EQ(QuotedPath(L"C:\\Program Files\\o-service.exe"),
              L"\"C:\\Program Files\\o-service.exe\"");
    EXPECT_EQ(QuotedPath(L"\"C:\\a b\\o-service.exe\""), L"\"C:\\a b\\o-service.exe\"");
    EXPECT_EQ(QuotedPath(L"\""), L"\"\"\"");
}

TEST(BaseName, IsTheLastComponent) {
    EXPECT_EQ(BaseName("C:\\Program Files\\Suite\\vantorelle_manager.exe"),
              "vantorelle_manager.exe");
    EXPECT_EQ(BaseName("/opt/suite/o-alerts.exe"), "o-alerts.exe");
    EXPECT_EQ(BaseName("rrdtool.exe"), "rrdtool.exe");
    EXPECT_EQ(BaseName("C:\\suite\\"), "");
}

TEST(UnseenMessageBox, TakesTheAnswerThatChangesLeast) {
    EXPECT_EQ(DefaultAnswer(0), 1);       // OK only: OK
    EXPECT_EQ(DefaultAnswer(48), 1);      // OK with the exclamation icon
    EXPECT_EQ(DefaultAnswer(4 + 32), 7);  // the unload question: No, the service stays
    EXPECT_EQ(DefaultAnswer(4 + 256), 7); // a Yes default button does not make Yes the answer
    EXPECT_EQ(DefaultAnswer(1), 2);       // OK/Cancel: Cancel
    EXPECT_EQ(DefaultAnswer(3), 2);       // Yes/No/Cancel: Cancel
    EXPECT_EQ(DefaultAnswer(5), 2);       // Retry/Cancel: Cancel
    EXPECT_EQ(DefaultAnswer(2), 5);       // Abort/Retry/Ignore: Ignore
}

TEST(UnseenMessageBox, ReportKeepsTitleAnswerAndText) {
    EXPECT_EQ(UnseenBoxReport("Stop Service", "Are you sure?\r\nreally", 7),
              "Message box \"Stop Service\" answered No (no one can see this desktop): "
              "Are you sure?\r\nreally");
    EXPECT_EQ(AnswerName(1), "OK");
    EXPECT_EQ(AnswerName(42), "42");
}

class ServiceStatus : public ::testing::Test {
protected:
    // A service that accepts pause and continue and has started.
    void StartRunning(std::int32_t accepted = 2) {
        machine.AcceptControls(accepted);
        machine.Starting();
        machine.StartFinished(true);
        ASSERT_EQ(machine.State(), ScmState::Running);
    }

    ServiceStatusMachine machine;
};

TEST_F(ServiceStatus, StartFollowsTheHandlersAnswer) {
    machine.AcceptControls(2);
    machine.Starting();
    EXPECT_EQ(machine.State(), ScmState::StartPending);
    EXPECT_TRUE(machine.Pending());
    machine.StartFinished(true);
    EXPECT_EQ(machine.State(), ScmState::Running);
    EXPECT_FALSE(machine.Pending());

    ServiceStatusMachine failed;
    failed.Starting();
    failed.StartFinished(false);
    EXPECT_EQ(failed.State(), ScmState::Stopped);
}

TEST_F(ServiceStatus, PauseAndContinueGoThroughTheirPendingStates) {
    StartRunning();
    ControlOutcome pause = machine.Control(control::kPause);
    EXPECT_EQ(pause.result, kNoError);
    EXPECT_EQ(pause.event, HostEvent::Pause);
    EXPECT_TRUE(pause.stateChanged);
    EXPECT_EQ(machine.State(), ScmState::PausePending);
    machine.PauseFinished(true);
    EXPECT_EQ(machine.State(), ScmState::Paused);

    ControlOutcome resume = machine.Control(control::kContinue);
    EXPECT_EQ(resume.event, HostEvent::Continue);
    EXPECT_EQ(machine.State(), ScmState::ContinuePending);
    machine.ContinueFinished(true);
    EXPECT_EQ(machine.State(), ScmState::Running);
}

TEST_F(ServiceStatus, AHandlerThatLeavesItsFlagKeepsTheStateItHad) {
    StartRunning();
    machine.Control(control::kPause);
    machine.PauseFinished(false);
    EXPECT_EQ(machine.State(), ScmState::Running);

    machine.Control(control::kPause);
    machine.PauseFinished(true);
    machine.Control(control::kContinue);
    machine.ContinueFinished(false);
    EXPECT_EQ(machine.State(), ScmState::Paused);
}

TEST_F(ServiceStatus, RepeatedPauseOrContinueRaisesNothingMore) {
    StartRunning();
    machine.Control(control::kPause);
    EXPECT_EQ(machine.Control(control::kPause).event, HostEvent::None);
    machine.PauseFinished(true);
    const ControlOutcome again = machine.Control(control::kPause);
    EXPECT_EQ(again.result, kNoError);
    EXPECT_EQ(again.event, HostEvent::None);
    machine.Control(control::kContinue);
    machine.ContinueFinished(true);
    EXPECT_EQ(machine.Control(control::kContinue).event, HostEvent::None);
}

TEST_F(ServiceStatus, WithoutPauseAndContinueOnlyStopIsTaken) {
    StartRunning(0);
    EXPECT_EQ(machine.ControlsAccepted(), 0x105u); // stop, shutdown, pre-shutdown
    const ControlOutcome pause = machine.Control(control::kPause);
    EXPECT_EQ(pause.result, kCallNotImplemented);
    EXPECT_EQ(pause.event, HostEvent::None);
    EXPECT_EQ(machine.State(), ScmState::Running);
    EXPECT_EQ(machine.Control(control::kContinue).result, kCallNotImplemented);
    EXPECT_EQ(machine.Control(control::kStop).event, HostEvent::Stop);
}

TEST_F(ServiceStatus, AcceptedControlsFollowTheState) {
    StartRunning();
    EXPECT_EQ(machine.ControlsAccepted(), 0x107u);
    machine.Control(control::kPause);
    machine.PauseFinished(true);
    EXPECT_EQ(machine.ControlsAccepted(), 0x107u);
    machine.Control(control::kStop);
    EXPECT_EQ(machine.ControlsAccepted(), 0u);
    machine.Stopped();
    EXPECT_EQ(machine.ControlsAccepted(), 0u);
}

TEST_F(ServiceStatus, StopIsRaisedOnceFromAnyLiveState) {
    StartRunning();
    machine.Control(control::kPause);
    machine.PauseFinished(true);
    const ControlOutcome stop = machine.Control(control::kStop);
    EXPECT_EQ(stop.event, HostEvent::Stop);
    EXPECT_TRUE(stop.stateChanged);
    EXPECT_EQ(machine.State(), ScmState::StopPending);
    const ControlOutcome again = machine.Control(control::kStop);
    EXPECT_EQ(again.event, HostEvent::None);
    EXPECT_EQ(again.result, kNoError);
    // Controls that come after the stop have no form left to reach.
    EXPECT_EQ(machine.Control(128).event, HostEvent::None);
    EXPECT_EQ(machine.Control(control::kContinue).event, HostEvent::None);
}

// Pre-shutdown where the system sends it, else shutdown: either is a stop, raised once.
TEST_F(ServiceStatus, PreshutdownAndShutdownRaiseTheStopOnce) {
    for (const auto& [first, next] : {std::pair{15u, 5u}, {5u, 15u}, {15u, 1u}}) {
        machine = ServiceStatusMachine();
        StartRunning();
        const ControlOutcome stop = machine.Control(first);
        EXPECT_TRUE(stop.event == HostEvent::Stop && stop.stateChanged) << first;
        EXPECT_EQ(machine.Control(next).event, HostEvent::None) << first << " then " << next;
    }
}

TEST_F(ServiceStatus, AStopDuringTheStartIsNotUndoneByTheStartsAnswer) {
    machine.AcceptControls(2);
    machine.Starting();
    EXPECT_EQ(machine.Control(control::kStop).event, HostEvent::Stop);
    machine.StartFinished(true);
    EXPECT_EQ(machine.State(), ScmState::StopPending);
}

TEST_F(ServiceStatus, UserCodesFrom128To255ReachTheForm) {
    StartRunning();
    for (std::uint32_t code : {128u, 200u, 255u}) {
        const ControlOutcome outcome = machine.Control(code);
        EXPECT_EQ(outcome.result, kNoError) << code;
        EXPECT_EQ(outcome.event, HostEvent::Control) << code;
        EXPECT_FALSE(outcome.stateChanged) << code;
    }
    for (std::uint32_t code : {6u, 14u, 16u, 127u, 256u, 300u}) {
        const ControlOutcome outcome = machine.Control(code);
        EXPECT_EQ(outcome.result, kCallNotImplemented) << code;
        EXPECT_EQ(outcome.event, HostEvent::None) << code;
    }
    EXPECT_EQ(machine.State(), ScmState::Running);
}

TEST_F(ServiceStatus, InterrogateOnlyAnswers) {
    StartRunning();
    const ControlOutcome outcome = machine.Control(control::kInterrogate);
    EXPECT_EQ(outcome.result, kNoError);
    EXPECT_EQ(outcome.event, HostEvent::None);
    EXPECT_EQ(machine.State(), ScmState::Running);
}

} // namespace
} // namespace ostrivan::windows
