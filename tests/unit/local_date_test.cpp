#include "supervisor/local_date.h"

#include <gtest/gtest.h>

namespace ostrivan {
namespace {

LocalDateTime At(int year, int month, int day, int hour, int minute, int second, int ms = 0) {
    return LocalDateTime{year, month, day, hour, minute, second, ms};
}

TEST(OleDate, CountsDaysFromTheOleEpoch) {
    EXPECT_DOUBLE_EQ(ToOleDate(At(1899, 12, 30, 0, 0, 0)), 0.0);
    EXPECT_DOUBLE_EQ(ToOleDate(At(1900, 1, 1, 0, 0, 0)), 2.0);
    EXPECT_DOUBLE_EQ(ToOleDate(At(2000, 1, 1, 0, 0, 0)), 36526.0);
    EXPECT_DOUBLE_EQ(ToOleDate(At(2000, 1, 1, 12, 0, 0)), 36526.5);
    // Leap day and the day after it.
    EXPECT_DOUBLE_EQ(ToOleDate(At(2024, 3, 1, 0, 0, 0)) - ToOleDate(At(2024, 2, 28, 0, 0, 0)), 2.0);
}

TEST(OleDate, KeepsWholeMillisecondsAtAnyDate) {
    for (const int year : {1900, 1999, 2026, 2099, 9999}) {
        const auto t = At(year, 7, 14, 23, 59, 59, 999);
        const std::int64_t dayStart = OleDateMilliseconds(ToOleDate(At(year, 7, 14, 0, 0, 0)));
        EXPECT_EQ(OleDateMilliseconds(ToOleDate(t)) - dayStart, 86'399'999) << year;
    }
}

TEST(MinuteDifference, CountsMinuteBoundariesNotElapsedMinutes) {
    for (const int year : {1900, 2026, 2099}) {
        const auto d = [year](int h, int m, int s, int ms = 0) {
            return ToOleDate(At(year, 3, 9, h, m, s, ms));
        };
        EXPECT_EQ(MinuteDifference(d(10, 2, 59, 999), d(10, 3, 0, 0)), 1) << year;
        EXPECT_EQ(MinuteDifference(d(10, 0, 0), d(10, 2, 59)), 2) << year;
        EXPECT_EQ(MinuteDifference(d(10, 0, 59), d(10, 3, 0)), 3) << year;
        EXPECT_EQ(MinuteDifference(d(10, 0, 0), d(10, 0, 59, 999)), 0) << year;
        EXPECT_EQ(MinuteDifference(d(10, 3, 0), d(10, 0, 59)), -3) << year;
    }
}

TEST(MinuteDifference, CrossesMidnightAndYearEnds) {
    EXPECT_EQ(MinuteDifference(ToOleDate(At(2026, 12, 31, 23, 59, 30)),
                               ToOleDate(At(2027, 1, 1, 0, 1, 0))),
              2);
    EXPECT_EQ(MinuteDifference(ToOleDate(At(2026, 12, 8, 10, 0, 0)),
                               ToOleDate(At(2026, 12, 9, 10, 0, 0))),
              24 * 60);
}

} // namespace
} // namespace ostrivan
