#include "platform/posix/systemd_notifier.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>

namespace ostrivan::posix {

SystemdNotifier SystemdNotifier::FromEnvironment() {
    SystemdNotifier notifier;
    const char* socket = std::getenv("NOTIFY_SOCKET");
    notifier.active_ = socket != nullptr && *socket != '\0';
    std::uint64_t microseconds = 0;
    if (notifier.active_ && ::sd_watchdog_enabled(0, &microseconds) > 0) {
        // At least a millisecond: 0 would read as no watchdog at all.
        const std::uint64_t milliseconds = std::max<std::uint64_t>(microseconds / 1000, 1);
        notifier.watchdogMilliseconds_ = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(milliseconds, std::numeric_limits<std::uint32_t>::max()));
    }
    return notifier;
}

void SystemdNotifier::Send(std::string_view state) {
    if (active_) {
        ::sd_notify(0, std::string(state).c_str());
    }
}

void SystemdNotifier::KeepAlive() {
    if (watchdogMilliseconds_ != 0) {
        Send("WATCHDOG=1");
    }
}

} // namespace ostrivan::posix
