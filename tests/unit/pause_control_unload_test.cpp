#include "fake_platform.h"

#include "supervisor/status_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ostrivan {
namespace {

using fakes::EventLogEntry;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kQuestion =
    "Are you sure you want to unload the service?...\r\nthe service will be stopped";

class HandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        s.status.KeepFolder(true);
        s.form.Load();
        s.log.Clear();
    }

    fakes::FakeService s;
};

// --- pause and continue

TEST_F(HandlerTest, PauseStopsTheTimerShowsPausedAndWritesTheNotice) {
    HostFlag success = kHostFalse;

    s.form.OnPause(success);

    EXPECT_THAT(s.log.Only({"host.", "runtime."}),
                ElementsAre("runtime.SetTimerEnabled false",
                            "runtime.SetStatusText Configuration Service Paused",
                            "host.WriteEvent 1 109 Service paused"));
    EXPECT_EQ(success, kHostTrue);
    EXPECT_FALSE(s.runtime.TimerEnabled());
    EXPECT_FALSE(s.runtime.FireTimer()) << "no sweep while paused";
    EXPECT_THAT(s.status.Metrics(), HasSubstr("\nostrivan_up 1\n"));
    EXPECT_THAT(s.status.Metrics(), HasSubstr("\nostrivan_paused 1\n"));
}

// The host shows the service paused exactly while the timer is off.
TEST_F(HandlerTest, PauseWhoseNoticeFailsIsStillAPause) {
    s.host.Faults().Fail("WriteEvent", 1);
    HostFlag success = 5;

    EXPECT_NO_THROW(s.form.OnPause(success));

    EXPECT_EQ(success, kHostTrue);
    EXPECT_FALSE(s.runtime.TimerEnabled());
    EXPECT_THAT(s.host.Events(), ElementsAre(EventLogEntry{109, 1, "[440] WriteEvent failed"}));
}

TEST_F(HandlerTest, PauseThatCannotStopTheTimerChangesNothingElse) {
    s.runtime.Faults().Fail("SetTimerEnabled");
    HostFlag success = kHostFalse;

    s.form.OnPause(success);

    EXPECT_EQ(success, kHostFalse);
    EXPECT_EQ(s.runtime.StatusText(), status::kLoading);
    EXPECT_THAT(s.host.Events(),
                ElementsAre(EventLogEntry{109, 1, "[440] SetTimerEnabled failed"}));
    EXPECT_FALSE(s.status.Status()) << "a pause not reached is not published";
}

TEST_F(HandlerTest, ContinueStartsTheTimerShowsRunningSetsTheFlagThenWritesTheNotice) {
    HostFlag paused = kHostFalse;
    s.form.OnPause(paused);
    s.log.Clear();
    HostFlag success = kHostFalse;

    s.form.OnContinue(success);

    EXPECT_THAT(s.log.Only({"host.", "runtime."}),
                ElementsAre("runtime.SetTimerEnabled true",
                            "runtime.SetStatusText Ostrivan Monitoring Service Running",
                            "host.WriteEvent 4 110 Service continued"));
    EXPECT_EQ(success, kHostTrue);
    EXPECT_TRUE(s.runtime.TimerEnabled());
    EXPECT_EQ(s.runtime.TimerInterval(), 60000u);
    EXPECT_THAT(s.status.Metrics(), HasSubstr("\nostrivan_paused 0\n"));
}

TEST_F(HandlerTest, ContinueWhoseNoticeFailsHasAlreadySetTheFlag) {
    s.host.Faults().Fail("WriteEvent", 1);
    HostFlag success = kHostFalse;

    EXPECT_NO_THROW(s.form.OnContinue(success));

    EXPECT_EQ(success, kHostTrue);
    EXPECT_THAT(s.host.Events(), ElementsAre(EventLogEntry{109, 1, "[440] WriteEvent failed"}));
}

// --- control codes

TEST_F(HandlerTest, ControlShowsTheTitleAndTheCode) {
    s.host.SetServiceTitle("Ostrivan Monitoring Service");

    s.form.OnControl(128);
    EXPECT_EQ(s.runtime.StatusText(), "Ostrivan Monitoring Service Control signal 128");

    s.form.OnControl(-5);
    EXPECT_EQ(s.runtime.StatusText(), "Ostrivan Monitoring Service Control signal -5");
    EXPECT_EQ(s.host.Calls("ServiceTitle"), 2);
}

TEST_F(HandlerTest, ControlWithoutATitleIsReported) {
    s.host.Faults().Fail("ServiceTitle");

    EXPECT_NO_THROW(s.form.OnControl(200));

    EXPECT_EQ(s.runtime.StatusText(), status::kLoading);
    EXPECT_THAT(s.host.Events(), ElementsAre(EventLogEntry{109, 1, "[440] ServiceTitle failed"}));
}

// --- closing the window

TEST_F(HandlerTest, ClosingTheWindowAsksAndNoKeepsEverything) {
    s.runtime.AnswerNextBox(box::kAnswerNo);

    EXPECT_FALSE(s.runtime.CloseWindow());

    ASSERT_EQ(s.runtime.MessageBoxes().size(), 1u);
    const auto& box = s.runtime.MessageBoxes()[0];
    EXPECT_EQ(box.text, kQuestion);
    EXPECT_EQ(box.style, 36);
    EXPECT_EQ(box.title, "Stop Service");
    EXPECT_EQ(s.host.StopRequests(), 0);
    EXPECT_EQ(s.runtime.StatusText(), status::kLoading);
}

TEST_F(HandlerTest, OnlyYesCounts) {
    for (const std::int32_t answer : {box::kAnswerOk, 2, box::kAnswerNo, -1, 0}) {
        s.runtime.AnswerNextBox(answer);
        EXPECT_FALSE(s.runtime.CloseWindow());
    }
    EXPECT_EQ(s.host.StopRequests(), 0);
}

TEST_F(HandlerTest, YesAsksTheHostToStopThenShowsStoppingAndKeepsTheWindow) {
    s.runtime.AnswerNextBox(box::kAnswerYes);

    EXPECT_FALSE(s.runtime.CloseWindow());

    EXPECT_THAT(s.log.Only({"host.", "runtime.SetStatusText"}),
                ElementsAre("host.RequestStop",
                            "runtime.SetStatusText Ostrivan Monitoring Service Stopping"));
    EXPECT_FALSE(s.form.State().IsStopping) << "only the stop sequence marks the form stopping";
}

TEST_F(HandlerTest, YesThenTheHostsStopUnloadsTheForm) {
    s.runtime.AnswerNextBox(box::kAnswerYes);
    s.runtime.CloseWindow();

    s.form.OnStop();

    EXPECT_TRUE(s.runtime.Unloaded());
    EXPECT_EQ(s.runtime.MessageBoxes().size(), 1u);
}

TEST_F(HandlerTest, StoppingFormUnloadsWithoutAQuestion) {
    s.form.OnStop();
    ASSERT_TRUE(s.form.State().IsStopping);

    std::int16_t cancel = 0;
    s.form.OnQueryUnload(cancel);

    EXPECT_EQ(cancel, 0);
    EXPECT_THAT(s.runtime.MessageBoxes(), IsEmpty());
}

TEST_F(HandlerTest, UnloadHandlingThatFailsStillKeepsTheWindowAndReports) {
    s.host.Faults().Fail("RequestStop", 1);
    s.runtime.AnswerNextBox(box::kAnswerYes);
    std::int16_t cancel = 0;

    EXPECT_NO_THROW(s.form.OnQueryUnload(cancel));

    EXPECT_EQ(cancel, kHostTrue);
    EXPECT_EQ(s.runtime.StatusText(), status::kLoading);
    EXPECT_THAT(s.host.Events(), ElementsAre(EventLogEntry{109, 1, "[440] RequestStop failed"}));
}

TEST_F(HandlerTest, UnloadQuestionThatCannotBeShownKeepsTheWindow) {
    s.runtime.Faults().Fail("ShowMessageBox");
    std::int16_t cancel = 0;

    EXPECT_NO_THROW(s.form.OnQueryUnload(cancel));

    EXPECT_EQ(cancel, kHostTrue);
    EXPECT_EQ(s.host.StopRequests(), 0);
    EXPECT_THAT(s.host.Events(), ElementsAre(EventLogEntry{109, 1, "[440] ShowMessageBox failed"}));
}

} // namespace
} // namespace ostrivan
