#include "supervisor/check_clock.h"

namespace ostrivan {
namespace {

constexpr std::int64_t kMillisecondsPerMinute = 60'000;
constexpr std::int64_t kMillisecondsPerSecond = 1'000;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

std::int64_t MinuteDifference(const ClockReading& first, std::int64_t monotonicNow) {
    const std::int64_t elapsed = monotonicNow - first.monotonicMilliseconds;
    return FloorDiv(first.utcMilliseconds + elapsed, kMillisecondsPerMinute) -
           FloorDiv(first.utcMilliseconds, kMillisecondsPerMinute);
}

std::int64_t UtcSeconds(std::int64_t utcMilliseconds) {
    return FloorDiv(utcMilliseconds, kMillisecondsPerSecond);
}

} // namespace ostrivan
