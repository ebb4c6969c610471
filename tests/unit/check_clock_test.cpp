#include "supervisor/check_clock.h"

#include <gtest/gtest.h>

#include <array>

namespace ostrivan {
namespace {

// UTC minute boundaries between the first sighting and it plus the monotonic time elapsed,
// wherever the monotonic clock happens to start.
TEST(MinuteDifference, CountsUtcMinuteBoundariesOverTheMonotonicTimeElapsed) {
    constexpr std::int64_t kTen = 1'773'050'400'000; // 2026-03-09 10:00:00 UTC
    // First seen (ms after 10:00:00), time elapsed (ms), boundaries.
    for (const auto [seen, elapsed, boundaries] : {std::array<std::int64_t, 3>{179'999, 1, 1},
                                                   {0, 179'000, 2},
                                                   {59'000, 121'000, 3},
                                                   {30'000, 86'400'000, 1440}}) {
        for (const std::int64_t start : {std::int64_t{0}, std::int64_t{-7'000}, kTen}) {
            EXPECT_EQ(MinuteDifference(ClockReading{kTen + seen, start}, start + elapsed),
                      boundaries)
                << seen << " + " << elapsed << " from " << start;
        }
    }
}

} // namespace
} // namespace ostrivan
