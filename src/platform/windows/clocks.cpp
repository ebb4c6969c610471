#include "platform/windows/clocks.h"

#include <windows.h>

namespace ostrivan::windows {
namespace {

constexpr std::int64_t kFileTimePerMillisecond = 10'000;
constexpr std::int64_t kFileTimeAt1970 = 116'444'736'000'000'000;

} // namespace

std::int64_t FileTimeToUnixSeconds(std::uint64_t fileTime) {
    return (static_cast<std::int64_t>(fileTime) - kFileTimeAt1970) /
           (kFileTimePerMillisecond * 1000);
}

std::int64_t UtcMilliseconds() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const auto ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return (ticks - kFileTimeAt1970) / kFileTimePerMillisecond;
}

} // namespace ostrivan::windows
