#pragma once

#include "platform/posix/unique_fd.h"

#include <string>
#include <string_view>

namespace ostrivan::posix {

// Tells systemd about the service's state through the socket in NOTIFY_SOCKET, when the
// service was started with one; does nothing otherwise.
class SystemdNotifier {
public:
    // Takes NOTIFY_SOCKET out of the environment as well, so that the programs the service
    // launches cannot speak for it.
    static SystemdNotifier FromEnvironment();

    explicit SystemdNotifier(std::string socketPath);

    bool Active() const { return socket_.Valid(); }
    // One message of newline-separated assignments, such as "READY=1". Best effort.
    void Send(std::string_view state);

private:
    std::string path_;
    UniqueFd socket_;
};

} // namespace ostrivan::posix
