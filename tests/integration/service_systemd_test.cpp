#include "service_harness.h"

#include "platform/posix/unique_fd.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <gtest/gtest.h>

namespace ostrivan::integration {
namespace {

// The service manager's notification socket.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path)
        : socket_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (::bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0) {
            throw std::runtime_error("cannot bind " + path);
        }
    }
    // Messages until one equals `last`, or the deadline.
    std::vector<std::string> ReceiveUntil(const std::string& last) {
        std::vector<std::string> messages;
        const auto until = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < until &&
               (messages.empty() || messages.back() != last)) {
            pollfd ready{socket_.Get(), POLLIN, 0};
            if (::poll(&ready, 1, 100) != 1) {
                continue;
            }
            char buffer[512];
            const ssize_t got = ::recv(socket_.Get(), buffer, sizeof buffer, 0);
            if (got > 0) {
                messages.emplace_back(buffer, static_cast<std::size_t>(got));
            }
        }
        return messages;
    }

private:
    posix::UniqueFd socket_;
};

TEST(Systemd, HearsReadinessAndEveryStatusAndNoLaunchedProgramSpeaksForTheService) {
    const std::string path = std::string(TEST_ROOT) + "/notify-" + std::to_string(::getpid());
    std::filesystem::create_directories(TEST_ROOT);
    ::unlink(path.c_str());
    NotifySocket systemd(path);
    SuiteRun run(RunOptions().Environment("NOTIFY_SOCKET", path));
    EXPECT_EQ(systemd.ReceiveUntil("READY=1"),
              (std::vector<std::string>{"STATUS=Loading",
                                        "STATUS=Ostrivan Monitoring Service Running", "READY=1"}));

    ASSERT_TRUE(Eventually([&] { return run.Running("vantorelle_watcher.exe").size() == 1; }));
    const std::string environment = EnvironmentOf(run.Running("vantorelle_watcher.exe").front());
    EXPECT_EQ(environment.find("NOTIFY_SOCKET="), std::string::npos);

    run.Signal(SIGTERM);
    EXPECT_EQ(systemd.ReceiveUntil("STATUS=Configuration Service Stopped"),
              (std::vector<std::string>{"STOPPING=1", "STATUS=Configuration Service Stopped"}));
    EXPECT_TRUE(run.WaitForExit());
    ::unlink(path.c_str());
}

} // namespace
} // namespace ostrivan::integration
