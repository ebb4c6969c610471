#include "platform/posix/systemd_notifier.h"
#include "posix_test_support.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

// The service manager's end: a datagram socket bound to `path` ('@' for an abstract name).
class ManagerSocket {
public:
    explicit ManagerSocket(const std::string& path)
        : socket_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.data(), path.size());
        if (path.starts_with('@')) {
            address.sun_path[0] = '\0';
        }
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
        bound_ = ::bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&address), length) == 0;
    }
    bool Bound() const { return bound_; }
    std::string Receive() {
        pollfd ready{socket_.Get(), POLLIN, 0};
        if (::poll(&ready, 1, 10000) != 1) {
            return "(nothing)";
        }
        char buffer[512];
        const ssize_t got = ::recv(socket_.Get(), buffer, sizeof buffer, 0);
        return got < 0 ? "(error)" : std::string(buffer, static_cast<std::size_t>(got));
    }

private:
    UniqueFd socket_;
    bool bound_ = false;
};

TEST(SystemdNotifier, SendsStatesToTheSocketItWasGiven) {
    testing::TempDir folder;
    const std::string path = folder.Path() + "/notify";
    ManagerSocket manager(path);
    ASSERT_TRUE(manager.Bound());
    SystemdNotifier notifier(path);
    ASSERT_TRUE(notifier.Active());
    notifier.Send("READY=1");
    notifier.Send("STATUS=Ostrivan Monitoring Service Running");
    EXPECT_EQ(manager.Receive(), "READY=1");
    EXPECT_EQ(manager.Receive(), "STATUS=Ostrivan Monitoring Service Running");
}

TEST(SystemdNotifier, ReachesAnAbstractSocket) {
    const std::string path = "@ostrivan-notify-test-" + std::to_string(::getpid());
    ManagerSocket manager(path);
    ASSERT_TRUE(manager.Bound());
    SystemdNotifier(path).Send("READY=1");
    EXPECT_EQ(manager.Receive(), "READY=1");
}

TEST(SystemdNotifier, TakesTheSocketOutOfTheEnvironmentForTheLaunchedPrograms) {
    testing::TempDir folder;
    const std::string path = folder.Path() + "/notify";
    ManagerSocket manager(path);
    ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
    auto notifier = SystemdNotifier::FromEnvironment();
    EXPECT_EQ(std::getenv("NOTIFY_SOCKET"), nullptr);
    notifier.Send("READY=1");
    EXPECT_EQ(manager.Receive(), "READY=1");
}

TEST(SystemdNotifier, DoesNothingWithoutASocket) {
    ::unsetenv("NOTIFY_SOCKET");
    EXPECT_FALSE(SystemdNotifier::FromEnvironment().Active());
    EXPECT_FALSE(SystemdNotifier("relative/path").Active());
    SystemdNotifier("").Send("READY=1"); // harmless
}

} // namespace
} // namespace ostrivan::posix
