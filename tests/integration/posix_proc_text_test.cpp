#include "platform/posix/proc_text.h"

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

// Fields 3 to 22 of a stat line, starttime (field 22) being 987654.
constexpr const char* kAfterName =
    " S 1 100 100 0 -1 4194560 500 0 0 0 10 5 0 0 20 0 1 0 987654 10000000 200 "
    "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0";

TEST(ProcStat, ReadsStateAndStartTime) {
    const auto stat = ParseProcStat(std::string("4242 (rrdtool.exe)") + kAfterName);
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->state, 'S');
    EXPECT_EQ(stat->startTime, 987654U);
}

TEST(ProcStat, CountsFieldsFromTheLastParenthesisOfTheName) {
    // A process may call itself anything: blanks, parentheses, a newline, digits.
    for (const char* name : {"(a b)", "(x) S 1 2 3)", "(new\nline)", "()()", "(9 9 9 9 9)"}) {
        const auto stat = ParseProcStat(std::string("17 ") + name + kAfterName);
        ASSERT_TRUE(stat) << name;
        EXPECT_EQ(stat->state, 'S') << name;
        EXPECT_EQ(stat->startTime, 987654U) << name;
    }
}

TEST(ProcStat, RefusesTextItCannotRead) {
    EXPECT_FALSE(ParseProcStat(""));
    EXPECT_FALSE(ParseProcStat("17 no parentheses S 1 2"));
    EXPECT_FALSE(ParseProcStat("17 (short) S 1 2 3"));
    EXPECT_FALSE(ParseProcStat(std::string("17 (x)") + " S 1 100 100 0 -1 4194560 500 0 0 0 10 5 "
                                                       "0 0 20 0 1 0 98x7654 1"));
    EXPECT_FALSE(ParseProcStat(std::string("17 (x)") + " SS 1 100 100 0 -1 4194560 500 0 0 0 "
                                                       "10 5 0 0 20 0 1 0 987654 1"));
}

TEST(ProcStatus, ReadsKilobytesAsBytes) {
    const std::string status = "Name:\tvantorelle_mana\n"
                               "VmHWM:\t  300000 kB\n"
                               "VmRSS:\t  262145 kB\n"
                               "RssAnon:\t  1 kB\n";
    EXPECT_EQ(ParseStatusKilobytes(status, "VmRSS"), 262145ULL * 1024);
    EXPECT_EQ(ParseStatusKilobytes(status, "VmHWM"), 300000ULL * 1024);
}

TEST(ProcStatus, FindsOnlyTheWholeFieldName) {
    // A zombie has no VmRSS line; "RssAnon" must not be taken for "Rss".
    const std::string status = "Name:\tz\nState:\tZ (zombie)\nRssAnon:\t  12 kB\n";
    EXPECT_FALSE(ParseStatusKilobytes(status, "VmRSS"));
    EXPECT_FALSE(ParseStatusKilobytes(status, "Rss"));
    EXPECT_FALSE(ParseStatusKilobytes("VmRSS:\t  12 MB\n", "VmRSS"));
    EXPECT_FALSE(ParseStatusKilobytes("VmRSS:\t  -12 kB\n", "VmRSS"));
}

TEST(ImageNames, TakeTheBaseNameOfTheExecutable) {
    EXPECT_EQ(ImageBaseName("/opt/suite dir/vantorelle_watcher.exe"), "vantorelle_watcher.exe");
    EXPECT_EQ(ImageBaseName("/opt/suite/o-graphs.exe (deleted)"), "o-graphs.exe");
    EXPECT_EQ(ImageBaseName("plain"), "plain");
}

TEST(ImageNames, DropOnlyTheNewlineThatEndsTheCommandName) {
    EXPECT_EQ(CommName("kthreadd\n"), "kthreadd");
    EXPECT_EQ(CommName("two\nlines\n"), "two\nlines");
    EXPECT_EQ(CommName(""), "");
}

} // namespace
} // namespace ostrivan::posix
