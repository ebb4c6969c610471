#include "platform/posix/console.h"
#include "posix_console_support.h"

#include <fcntl.h>

#include <regex>

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

using testing::Pipe;
using testing::Terminal;

class ConsoleOnPipes : public ::testing::Test {
protected:
    UniqueFd nothing_{::open("/dev/null", O_RDONLY | O_CLOEXEC)};
    Pipe out_;
    Pipe err_;
    Console console_{nothing_.Get(), out_.write.Get(), err_.write.Get()};
};

TEST_F(ConsoleOnPipes, WritesOneLinePerStatusHoldingExactlyTheText) {
    console_.ShowStatus("Loading");
    console_.ShowStatus("Ostrivan Monitoring Service Running");
    console_.Finish();
    EXPECT_EQ(out_.Drain(), "Loading\nOstrivan Monitoring Service Running\n");
    EXPECT_EQ(err_.Drain(), "");
}

TEST_F(ConsoleOnPipes, KeepsEveryLogEntryOnOneLineWithTheTimeInFront) {
    console_.Log("Error Shelling file.\r\nNo such file or directory\nx");
    EXPECT_TRUE(std::regex_match(err_.Drain(),
                                 std::regex("\\d\\d:\\d\\d:\\d\\d Error Shelling file\\. No such "
                                            "file or directory x\n")));
    EXPECT_FALSE(console_.CanAsk());
}

TEST(OneLine, TurnsLineBreaksAndControlCharactersIntoBlanks) {
    EXPECT_EQ(OneLine("a\r\nb\rc\nd\te\x1b"), "a b c d e ");
    EXPECT_EQ(OneLine("plain"), "plain");
}

TEST(ConsoleOnTerminal, RedrawsTheStatusLineInPlace) {
    Terminal terminal;
    Console console(terminal.slave.Get(), terminal.slave.Get(), terminal.slave.Get());
    console.ShowStatus("Loading");
    console.ShowStatus("Ostrivan Monitoring Service Running");
    EXPECT_EQ(terminal.ReadUntil("Running"),
              "\r\x1b[2KLoading\r\x1b[2KOstrivan Monitoring Service Running");
}

TEST(ConsoleOnTerminal, PrintsALogLineAboveTheStatusLine) {
    Terminal terminal;
    Console console(terminal.slave.Get(), terminal.slave.Get(), terminal.slave.Get());
    console.ShowStatus("Configuration Service Paused");
    console.Log("event 109 (kind 1): Service paused");
    console.Finish();
    const std::string screen = terminal.ReadUntil("Paused\r\n");
    EXPECT_TRUE(
        std::regex_search(screen, std::regex("Paused\r\x1b\\[2K\\d\\d:\\d\\d:\\d\\d event 109 "
                                             "\\(kind 1\\): Service paused\r\n\r\x1b\\[2K"
                                             "Configuration Service Paused\r\n$")))
        << screen;
}

TEST(ConsoleOnTerminal, AsksAndReadsOneLine) {
    Terminal terminal;
    Console console(terminal.slave.Get(), terminal.slave.Get(), terminal.slave.Get());
    ASSERT_TRUE(console.CanAsk());
    terminal.Type("yes please\n");
    EXPECT_EQ(console.Ask("Sure?\r\nreally "), "yes please");
    EXPECT_NE(terminal.ReadUntil("really ").find("Sure?\r\nreally "), std::string::npos);
    terminal.Type("\x04"); // end of input
    EXPECT_EQ(console.Ask("Again? "), std::nullopt);
}

} // namespace
} // namespace ostrivan::posix
