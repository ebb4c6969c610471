#include "platform/posix/command_line.h"

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

using Words = std::vector<std::string>;

TEST(CommandLine, ReadsBackslashesInAProgramPathAsSeparators) {
    EXPECT_EQ(ToPosixPath("/opt/suite\\o-alerts.exe"), "/opt/suite/o-alerts.exe");
    EXPECT_EQ(ToPosixPath("\\o-alerts.exe"), "/o-alerts.exe");
}

TEST(CommandLine, TakesTheQuotedProgramPathAsOneWord) {
    EXPECT_EQ(SplitCommandLine("\"/opt/my suite\\vantorelle_watcher.exe\" 900"),
              (Words{"/opt/my suite\\vantorelle_watcher.exe", "900"}));
    EXPECT_EQ(SplitCommandLine("\"/opt/my suite/o-alerts.exe\""),
              (Words{"/opt/my suite/o-alerts.exe"}));
}

TEST(CommandLine, SplitsTheArgumentsAtRunsOfBlanks) {
    EXPECT_EQ(SplitCommandLine("\"/p/x\"  a \t b   "), (Words{"/p/x", "a", "b"}));
    EXPECT_EQ(SplitCommandLine("/p/x 900"), (Words{"/p/x", "900"}));
    EXPECT_EQ(SplitCommandLine("\"/p/x\"900"), (Words{"/p/x", "900"}));
}

TEST(CommandLine, KeepsAnUnclosedQuoteAsTheRestOfTheLine) {
    EXPECT_EQ(SplitCommandLine("\"/p/my x 900"), (Words{"/p/my x 900"}));
    EXPECT_EQ(SplitCommandLine("   "), Words{});
}

TEST(ArgumentText, JoinsArgumentsWithSingleBlanks) {
    EXPECT_EQ(ArgumentText({}), "");
    EXPECT_EQ(ArgumentText({"-install"}), "-install");
    EXPECT_EQ(ArgumentText({"-install", "now"}), "-install now");
}

TEST(ArgumentText, QuotesArgumentsThatWouldOtherwiseReadAsSomethingElse) {
    // `o-service ""` and `o-service "-install now"` are not a plain service run or a
    // two-word command line.
    EXPECT_EQ(ArgumentText({""}), "\"\"");
    EXPECT_EQ(ArgumentText({"-install now"}), "\"-install now\"");
    EXPECT_EQ(ArgumentText({"a\"b"}), "\"a\"b\"");
}

} // namespace
} // namespace ostrivan::posix
