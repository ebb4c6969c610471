#include "supervisor/local_date.h"

#include <cmath>
#include <ctime>

namespace ostrivan {
namespace {

constexpr std::int64_t kMillisecondsPerDay = 86'400'000;
constexpr std::int64_t kMillisecondsPerMinute = 60'000;
// Days from 1970-01-01 back to the OLE epoch, 1899-12-30.
constexpr std::int64_t kOleEpochFromUnixDays = -25'569;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

double ToOleDate(const LocalDateTime& t) {
    const std::int64_t days =
        DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) -
        kOleEpochFromUnixDays;
    const std::int64_t msOfDay =
        ((static_cast<std::int64_t>(t.hour) * 60 + t.minute) * 60 + t.second) * 1000 +
        t.millisecond;
    return static_cast<double>(days) +
           static_cast<double>(msOfDay) / static_cast<double>(kMillisecondsPerDay);
}

std::int64_t OleDateMilliseconds(double oleDate) {
    return std::llround(oleDate * static_cast<double>(kMillisecondsPerDay));
}

std::int64_t LocalOleDateToUtcSeconds(double oleDate) {
    // The wall time taken apart as if it were UTC, then read back on the local clock.
    const std::time_t wall = static_cast<std::time_t>(FloorDiv(OleDateMilliseconds(oleDate), 1000) +
                                                      kOleEpochFromUnixDays * 86'400);
    const std::tm* fields = std::gmtime(&wall);
    if (fields == nullptr) {
        return 0;
    }
    std::tm local = *fields;
    local.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&local));
}

std::int64_t MinuteDifference(double from, double to) {
    return FloorDiv(OleDateMilliseconds(to), kMillisecondsPerMinute) -
           FloorDiv(OleDateMilliseconds(from), kMillisecondsPerMinute);
}

} // namespace ostrivan
