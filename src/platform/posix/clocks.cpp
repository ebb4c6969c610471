#include "platform/posix/clocks.h"

#include <time.h>

namespace ostrivan::posix {
namespace {

std::int64_t Milliseconds(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

} // namespace

std::int64_t UtcMilliseconds() {
    return Milliseconds(CLOCK_REALTIME);
}

std::int64_t BootMilliseconds() {
    // Unlike CLOCK_MONOTONIC it counts time suspended: a check that ran while the machine
    // slept has aged by that time too.
    return Milliseconds(CLOCK_BOOTTIME);
}

} // namespace ostrivan::posix
