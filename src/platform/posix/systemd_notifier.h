#pragma once

#include <cstdint>
#include <string_view>

namespace ostrivan::posix {

// Tells systemd about the service's state through sd_notify, when the service was started
// with a notification socket; does nothing otherwise. The programs the service launches
// never see the socket (see spawn.h), so they cannot speak for it.
class SystemdNotifier {
public:
    // Reads NOTIFY_SOCKET and the watchdog meant for this process (WATCHDOG_USEC, with
    // WATCHDOG_PID naming it).
    static SystemdNotifier FromEnvironment();

    SystemdNotifier() = default;

    bool Active() const { return active_; }
    // One message of newline-separated assignments, such as "READY=1". Best effort.
    void Send(std::string_view state);

    // The time within which systemd wants a keep-alive, in milliseconds; 0 without a
    // watchdog.
    std::uint32_t WatchdogMilliseconds() const { return watchdogMilliseconds_; }
    // Tells the watchdog that the service still works.
    void KeepAlive();

private:
    bool active_ = false;
    std::uint32_t watchdogMilliseconds_ = 0;
};

} // namespace ostrivan::posix
