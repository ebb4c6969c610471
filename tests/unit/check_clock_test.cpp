#include "supervisor/check_clock.h"

#include <gtest/gtest.h>

namespace ostrivan {
namespace {

// 2026-03-09 10:00:00 UTC.
constexpr std::int64_t kTen = 1'773'050'400'000;

TEST(MinuteDifference, CountsUtcMinuteBoundariesOverTheMonotonicTimeElapsed) {
    struct Case {
        std::int64_t firstSeen; // ms after 10:00:00
        std::int64_t elapsed;   // ms
        std::int64_t boundaries;
    };
    for (const Case c : {Case{179'999, 1, 1},      // 10:02:59.999 to 10:03:00
                         Case{0, 179'000, 2},      // 10:00:00 to 10:02:59
                         Case{59'000, 121'000, 3}, // 10:00:59 to 10:03:00: 2 min 1 s
                         Case{0, 59'999, 0},       // within one minute
                         Case{30'000, 86'400'000, 1440}}) {
        // Wherever the monotonic clock happens to start.
        for (const std::int64_t start : {std::int64_t{0}, std::int64_t{-7'000}, kTen}) {
            const ClockReading first{kTen + c.firstSeen, start};
            EXPECT_EQ(MinuteDifference(first, start + c.elapsed), c.boundaries)
                << c.firstSeen << " + " << c.elapsed << " from " << start;
        }
    }
    EXPECT_EQ(UtcSeconds(kTen + 59'999), 1'773'050'459);
    EXPECT_EQ(UtcSeconds(-1), -1);
}

} // namespace
} // namespace ostrivan
