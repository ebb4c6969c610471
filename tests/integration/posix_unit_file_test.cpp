#include "platform/posix/action_journal.h"
#include "platform/posix/event_log.h"
#include "platform/posix/unit_file.h"

#include <syslog.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

// The unit's text without its restrictions, which must close the [Service] section.
std::string WithoutRestrictions(const std::string& unit) {
    const auto from = unit.find("# Restrictions.");
    const auto to = unit.find("\n[Install]");
    if (from == std::string::npos || to == std::string::npos || to < from) {
        return "(no restrictions at the end of [Service]) " + unit;
    }
    return unit.substr(0, from) + unit.substr(to);
}

std::vector<std::string> Values(const std::string& unit, const std::string& key) {
    std::vector<std::string> values;
    std::istringstream lines(unit);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(key + "=")) {
            values.push_back(line.substr(key.size() + 1));
        }
    }
    return values;
}

TEST(UnitFile, DescribesANotifyServiceThatEndsItsOwnSuiteAndIsRestartedAfterAFailure) {
    EXPECT_EQ(
        WithoutRestrictions(UnitFileText("Ostrivan Monitoring Service", "/opt/ostrivan/o-service")),
        "[Unit]\n"
        "Description=Ostrivan Monitoring Service\n"
        "StartLimitIntervalSec=600\n"
        "StartLimitBurst=5\n"
        "\n"
        "[Service]\n"
        "Type=notify\n"
        "ExecStart=\"/opt/ostrivan/o-service\"\n"
        "ExecStopPost=-\"/opt/ostrivan/o-service\" -stopped\n"
        "KillMode=mixed\n"
        "TimeoutStopSec=30\n"
        "Restart=on-failure\n"
        "RestartSec=5\n"
        "WatchdogSec=120\n"
        "RuntimeDirectory=ostrivan\n"
        "RuntimeDirectoryPreserve=yes\n"
        "\n"
        "[Install]\n"
        "WantedBy=multi-user.target\n");
}

TEST(UnitFile, RestrictsNothingThatTheSuiteNeeds) {
    const auto unit = UnitFileText("Ostrivan Monitoring Service", "/opt/ostrivan/o-service");
    // Ending any process, reading any process's /proc entries, ping and SNMP traps.
    const auto capabilities = Values(unit, "CapabilityBoundingSet");
    ASSERT_EQ(capabilities.size(), 1U);
    for (const char* needed :
         {"CAP_KILL", "CAP_SYS_PTRACE", "CAP_NET_RAW", "CAP_NET_BIND_SERVICE"}) {
        EXPECT_NE((" " + capabilities[0] + " ").find(std::string(" ") + needed + " "),
                  std::string::npos)
            << needed;
    }
    EXPECT_EQ(Values(unit, "RestrictAddressFamilies"),
              std::vector<std::string>{"AF_UNIX AF_INET AF_INET6 AF_NETLINK"});
    // Hiding processes, /tmp or /home, the network, or writable code would break suites.
    for (const char* taken :
         {"ProtectProc", "ProcSubset", "PrivateTmp", "ProtectHome", "PrivateNetwork",
          "IPAddressDeny", "MemoryDenyWriteExecute", "PrivateUsers", "User", "DynamicUser"}) {
        EXPECT_TRUE(Values(unit, taken).empty()) << taken;
    }
    // The suite writes in its own folder, also where ProtectSystem makes the rest read-only.
    EXPECT_EQ(Values(unit, "ProtectSystem"), std::vector<std::string>{"full"});
    EXPECT_EQ(Values(unit, "ReadWritePaths"), std::vector<std::string>{"\"/opt/ostrivan\""});
    EXPECT_EQ(Values(UnitFileText("x", "/o-service"), "ReadWritePaths"),
              std::vector<std::string>{"\"/\""});
    // Without the error number, a suite program making a filtered call would be killed.
    EXPECT_EQ(Values(unit, "SystemCallFilter").size(), 1U);
    EXPECT_EQ(Values(unit, "SystemCallErrorNumber"), std::vector<std::string>{"EPERM"});
    EXPECT_EQ(Values(unit, "NoNewPrivileges"), std::vector<std::string>{"yes"});
}

TEST(UnitFile, NamesTheSuiteFolderAsOnePathWord) {
    EXPECT_EQ(PathListWord("/opt/my suite"), "\"/opt/my suite\"");
    // Path lists expand specifiers but no variables, and unquote like a shell.
    EXPECT_EQ(PathListWord("/opt/100%/$HOME"), "\"/opt/100%%/$HOME\"");
    EXPECT_EQ(PathListWord("/opt/a\"b\\c"), "\"/opt/a\\\"b\\\\c\"");
    EXPECT_EQ(PathListWord("/opt/a\nb"), std::nullopt);
    // Such a folder stays writable (no ProtectSystem) and starts no directive of its own.
    const auto unit = UnitFileText("x", "/opt/a\nReadOnlyPaths=/\n/o-service");
    EXPECT_TRUE(Values(unit, "ProtectSystem").empty());
    EXPECT_TRUE(Values(unit, "ReadWritePaths").empty());
    EXPECT_TRUE(Values(unit, "ReadOnlyPaths").empty());
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

TEST(EventLogPriority, FollowsWhatTheEntryMeans) {
    EXPECT_EQ(SyslogPriority(109, 1), LOG_ERR);  // error reports
    EXPECT_EQ(SyslogPriority(1, 109), LOG_INFO); // the pause notice, written with kind 1
    EXPECT_EQ(SyslogPriority(4, 110), LOG_INFO); // the continue notice
    EXPECT_EQ(SyslogPriority(2, 3), LOG_WARNING);
    EXPECT_EQ(SyslogPriority(16, 3), LOG_WARNING); // audit failure
    EXPECT_EQ(SyslogPriority(0, 7), LOG_INFO);
    // The journal's records, by what they tell: priority and message id as documented.
    ActionRecord record;
    record.action = Action::TerminationRefused;
    EXPECT_EQ(JournalPriority(record), LOG_WARNING);
    EXPECT_EQ(MessageId(record), "d907caf2921142fba292322d4778cd75");
    record.action = Action::Terminated;
    EXPECT_EQ(JournalPriority(record), LOG_INFO);
    EXPECT_EQ(MessageId(record), "cbcbc2df78684db4b4f1cd20ea53e0e2");
}

} // namespace
} // namespace ostrivan::posix
