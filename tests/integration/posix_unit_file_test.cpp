#include "platform/posix/event_log.h"
#include "platform/posix/unit_file.h"

#include <syslog.h>

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

TEST(UnitFile, DescribesANotifyServiceThatEndsItsOwnSuiteAndIsRestartedAfterAFailure) {
    EXPECT_EQ(UnitFileText("Ostrivan Monitoring Service", "/opt/ostrivan/o-service"),
              "[Unit]\n"
              "Description=Ostrivan Monitoring Service\n"
              "StartLimitIntervalSec=600\n"
              "StartLimitBurst=5\n"
              "\n"
              "[Service]\n"
              "Type=notify\n"
              "ExecStart=\"/opt/ostrivan/o-service\"\n"
              "KillMode=mixed\n"
              "Restart=on-failure\n"
              "RestartSec=5\n"
              "\n"
              "[Install]\n"
              "WantedBy=multi-user.target\n");
}

TEST(UnitFile, QuotesThePathSoThatSystemdExpandsNothingInIt) {
    EXPECT_EQ(ExecStartWord("/opt/my suite/o-service"), "\"/opt/my suite/o-service\"");
    EXPECT_EQ(ExecStartWord("/opt/100%/$HOME/o-service"), "\"/opt/100%%/$$HOME/o-service\"");
    EXPECT_EQ(ExecStartWord("/opt/a\"b\\c"), "\"/opt/a\\\"b\\\\c\"");
    // A newline would end the ExecStart line and start a directive of its own.
    EXPECT_EQ(ExecStartWord("/opt/a\nKillMode=none"), "\"/opt/a\\x0aKillMode=none\"");
}

TEST(Parameters, AreStoredAsSectionsOfKeys) {
    EXPECT_EQ(WithParameter("", "Parameters", "TimerInterval", "60000"),
              "[Parameters]\nTimerInterval=60000\n");
}

TEST(Parameters, ReplaceAKeyAndKeepEverythingElse) {
    const std::string existing = "[Other]\nTimerInterval=1\n\n[Parameters]\nA=1\n"
                                 "TimerInterval=5\nB=2\n";
    EXPECT_EQ(WithParameter(existing, "Parameters", "TimerInterval", "60000"),
              "[Other]\nTimerInterval=1\n\n[Parameters]\nA=1\nTimerInterval=60000\nB=2\n");
}

TEST(Parameters, AddAKeyAtTheEndOfItsSection) {
    EXPECT_EQ(WithParameter("[Parameters]\nA=1\n\n[Other]\nB=2\n", "Parameters", "C", "3"),
              "[Parameters]\nA=1\nC=3\n\n[Other]\nB=2\n");
    EXPECT_EQ(WithParameter("[Other]\nB=2\n", "Parameters", "C", "3"),
              "[Other]\nB=2\n\n[Parameters]\nC=3\n");
    // A key that merely begins like another is a different key.
    EXPECT_EQ(WithParameter("[P]\nTimer=1\n", "P", "TimerInterval", "2"),
              "[P]\nTimer=1\nTimerInterval=2\n");
}

TEST(EventLogPriority, FollowsTheEventType) {
    EXPECT_EQ(SyslogPriority(1), LOG_ERR);      // error type, as the pause notice passes it
    EXPECT_EQ(SyslogPriority(109), LOG_ERR);    // error reports; the error bit is set
    EXPECT_EQ(SyslogPriority(2), LOG_WARNING);  // warning
    EXPECT_EQ(SyslogPriority(16), LOG_WARNING); // audit failure
    EXPECT_EQ(SyslogPriority(4), LOG_INFO);     // information, as the continue notice
    EXPECT_EQ(SyslogPriority(0), LOG_INFO);
    EXPECT_EQ(SyslogPriority(-1), LOG_ERR);
}

} // namespace
} // namespace ostrivan::posix
