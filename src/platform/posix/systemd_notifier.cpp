#include "platform/posix/systemd_notifier.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace ostrivan::posix {

SystemdNotifier SystemdNotifier::FromEnvironment() {
    const char* path = std::getenv("NOTIFY_SOCKET");
    SystemdNotifier notifier(path != nullptr ? path : "");
    ::unsetenv("NOTIFY_SOCKET");
    return notifier;
}

SystemdNotifier::SystemdNotifier(std::string socketPath) : path_(std::move(socketPath)) {
    // An abstract socket is written with '@' in front; a relative path is none of ours.
    if ((path_.starts_with('/') || path_.starts_with('@')) &&
        path_.size() < sizeof(sockaddr_un::sun_path)) {
        socket_.Reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    }
}

void SystemdNotifier::Send(std::string_view state) {
    if (!socket_) {
        return;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path_.data(), path_.size());
    if (path_.starts_with('@')) {
        address.sun_path[0] = '\0';
    }
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path_.size());
    ::sendto(socket_.Get(), state.data(), state.size(), MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&address), length);
}

} // namespace ostrivan::posix
