#include "platform/posix/interval_timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

namespace ostrivan::posix {

IntervalTimer::IntervalTimer()
    : fd_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {}

void IntervalTimer::Start(std::uint32_t milliseconds) {
    itimerspec setting{};
    setting.it_interval.tv_sec = milliseconds / 1000;
    setting.it_interval.tv_nsec = static_cast<long>(milliseconds % 1000) * 1'000'000;
    setting.it_value = setting.it_interval;
    // Arming anew also drops expirations not yet read.
    ::timerfd_settime(fd_.Get(), 0, &setting, nullptr);
}

void IntervalTimer::Stop() {
    Start(0);
}

bool IntervalTimer::Consume() {
    std::uint64_t expirations = 0;
    return ::read(fd_.Get(), &expirations, sizeof expirations) == sizeof expirations &&
           expirations > 0;
}

} // namespace ostrivan::posix
