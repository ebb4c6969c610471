#include "platform/posix/event_loop.h"
#include "platform/posix/posix_form_runtime.h"
#include "platform/posix/spawn.h"
#include "platform/posix/systemd_notifier.h"
#include "platform/posix/unique_fd.h"
#include "posix_test_support.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

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
    int Fd() const { return socket_.Get(); }
    std::string Receive(int milliseconds = 10000) {
        pollfd ready{socket_.Get(), POLLIN, 0};
        if (::poll(&ready, 1, milliseconds) != 1) {
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

// The environment systemd gives a service with a watchdog of `watchdogMicroseconds`.
void ServiceEnvironment(const std::string& socket, int watchdogMicroseconds) {
    ::setenv("NOTIFY_SOCKET", socket.c_str(), 1);
    ::setenv("WATCHDOG_USEC", std::to_string(watchdogMicroseconds).c_str(), 1);
    ::setenv("WATCHDOG_PID", std::to_string(::getpid()).c_str(), 1);
}

TEST(SystemdNotifier, SendsStatesToTheSocketItWasGiven) {
    testing::TempDir folder;
    const std::string path = folder.Path() + "/notify";
    ManagerSocket manager(path);
    ASSERT_TRUE(manager.Bound());
    ServiceEnvironment(path, 120'000'000);
    auto notifier = SystemdNotifier::FromEnvironment();
    ASSERT_TRUE(notifier.Active());
    EXPECT_EQ(notifier.WatchdogMilliseconds(), 120'000u);
    notifier.Send("READY=1");
    notifier.Send("STATUS=Ostrivan Monitoring Service Running");
    EXPECT_EQ(manager.Receive(), "READY=1");
    EXPECT_EQ(manager.Receive(), "STATUS=Ostrivan Monitoring Service Running");
}

TEST(SystemdNotifier, ReachesAnAbstractSocket) {
    const std::string path = "@ostrivan-notify-test-" + std::to_string(::getpid());
    ManagerSocket manager(path);
    ASSERT_TRUE(manager.Bound());
    ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
    SystemdNotifier::FromEnvironment().Send("READY=1");
    EXPECT_EQ(manager.Receive(), "READY=1");
}

TEST(SystemdNotifier, LaunchedProgramsSeeNeitherTheSocketNorTheWatchdog) {
    ServiceEnvironment("/run/systemd/notify", 120'000'000);
    const std::vector<std::string> probe = {
        "/bin/sh", "-c", "[ -z \"${NOTIFY_SOCKET+x}${WATCHDOG_USEC+x}${WATCHDOG_PID+x}\" ]"};
    const Spawned spawned = SpawnDetached(probe[0], probe);
    ASSERT_EQ(spawned.error, 0);
    EXPECT_EQ(testing::WaitForEnd(spawned.pid), 0); // exited with 0
    // The service itself keeps them.
    EXPECT_NE(std::getenv("NOTIFY_SOCKET"), nullptr);
}

TEST(SystemdNotifier, DoesNothingWithoutASocket) {
    ::unsetenv("NOTIFY_SOCKET");
    EXPECT_FALSE(SystemdNotifier::FromEnvironment().Active());
    SystemdNotifier().Send("READY=1"); // harmless
}

// The form's timer, on the loop that also sends the keep-alives.
struct TimerEvents : FormEvents {
    void OnTimer() override { onTimer(); }
    void OnQueryUnload(std::int16_t&) override {}
    std::function<void()> onTimer;
};

TEST(SystemdNotifier, KeepAlivesComeFromTheLoopAtHalfTheWatchdogsTimeNeverFromAHandler) {
    testing::TempDir folder;
    const std::string path = folder.Path() + "/notify";
    ManagerSocket manager(path);
    ASSERT_TRUE(manager.Bound());
    ServiceEnvironment(path, 300'000); // a keep-alive due every 150 ms
    auto notifier = SystemdNotifier::FromEnvironment();
    EventLoop loop;
    const auto deadline = testing::QuitAfter(loop);
    Console console;
    // The first sweep comes before the first keep-alive is due, and hangs for 600 ms.
    PosixFormRuntime runtime(loop, console, notifier, folder.Path(), "", 20, true);
    TimerEvents form;
    form.onTimer = [&] {
        EXPECT_EQ(manager.Receive(0), "(nothing)") << "a keep-alive before one was due";
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        EXPECT_EQ(manager.Receive(0), "(nothing)") << "a keep-alive while the sweep hung";
        runtime.SetTimerInterval(60000); // idle from here on
    };
    runtime.Attach(form);
    loop.Watch(manager.Fd(), [&] {
        EXPECT_EQ(manager.Receive(0), "WATCHDOG=1");
        runtime.SetTimerEnabled(false); // a pause, and a continue
        runtime.SetTimerEnabled(true);
        EXPECT_EQ(manager.Receive(0), "WATCHDOG=1") << "none at continue";
        loop.Quit(0);
    });
    EXPECT_EQ(loop.Run(), 0) << "no keep-alive in 10 s";
}

} // namespace
} // namespace ostrivan::posix
