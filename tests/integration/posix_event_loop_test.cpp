#include "platform/posix/event_loop.h"
#include "platform/posix/interval_timer.h"
#include "platform/posix/spawn.h"
#include "posix_test_support.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

class EventLoopTest : public ::testing::Test {
protected:
    void SetUp() override { testing::DrainLoopSignals(); }
    void TearDown() override { testing::DrainLoopSignals(); }

    EventLoop loop_;
    IntervalTimer deadline_ = testing::QuitAfter(loop_);
    std::vector<std::string> trace_;
};

TEST_F(EventLoopTest, RunsPostedTasksInOrderAndStopsAfterTheHandlerThatQuits) {
    loop_.Post([&] { trace_.push_back("a"); });
    loop_.Post([&] {
        trace_.push_back("b");
        loop_.Post([&] { trace_.push_back("never"); });
        loop_.Quit(3);
        trace_.push_back("b done");
    });
    EXPECT_EQ(loop_.Run(), 3);
    EXPECT_EQ(trace_, (std::vector<std::string>{"a", "b", "b done"}));
}

TEST_F(EventLoopTest, ASignalWaitsUntilTheRunningHandlerHasReturned) {
    loop_.OnSignal(SIGUSR1, [&] {
        trace_.push_back("usr1");
        loop_.Quit(0);
    });
    loop_.Post([&] {
        trace_.push_back("handler starts");
        ::raise(SIGUSR1);
        trace_.push_back("handler ends");
    });
    loop_.Run();
    EXPECT_EQ(trace_, (std::vector<std::string>{"handler starts", "handler ends", "usr1"}));
}

TEST_F(EventLoopTest, ReadsRealTimeSignalsEachInTurn) {
    // Real-time signals queue; each one sent is one event.
    loop_.OnSignal(SIGRTMIN, [&] { trace_.push_back("rt0"); });
    loop_.OnSignal(SIGRTMIN + 2, [&] {
        trace_.push_back("rt2");
        loop_.Quit(0);
    });
    ::raise(SIGRTMIN + 2);
    ::raise(SIGRTMIN);
    ::raise(SIGRTMIN);
    loop_.Run();
    EXPECT_EQ(trace_, (std::vector<std::string>{"rt0", "rt0", "rt2"}));
}

TEST_F(EventLoopTest, ASignalWithoutHandlerIsDroppedNotFatal) {
    ::raise(SIGHUP);
    loop_.OnSignal(SIGUSR2, [&] { loop_.Quit(4); });
    ::raise(SIGUSR2);
    EXPECT_EQ(loop_.Run(), 4);
}

TEST_F(EventLoopTest, ReapsEveryChildThatEnds) {
    testing::TempDir folder;
    const std::string program = folder.Path() + "/o-graphs.exe";
    std::filesystem::copy_file(STANDIN_PATH, program);
    std::vector<pid_t> started;
    for (const char* code : {"exit=3", "exit=4"}) {
        const Spawned child = SpawnDetached(program, {program, code});
        ASSERT_EQ(child.error, 0);
        started.push_back(child.pid);
    }
    std::vector<std::pair<pid_t, int>> ended;
    loop_.OnChildEnded([&](pid_t pid, int status) {
        ended.emplace_back(pid, WEXITSTATUS(status));
        if (ended.size() == 2) {
            loop_.Quit(0);
        }
    });
    loop_.Run();
    ASSERT_EQ(ended.size(), 2U);
    for (const auto& [pid, code] : ended) {
        EXPECT_EQ(code, pid == started[0] ? 3 : 4);
        // Already reaped: no zombie left.
        EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }
}

TEST_F(EventLoopTest, DeliversADescriptorThatBecameReadable) {
    IntervalTimer timer;
    timer.Start(10);
    int ticks = 0;
    loop_.Watch(timer.Fd(), [&] {
        if (timer.Consume() && ++ticks == 2) {
            loop_.Quit(0);
        }
    });
    loop_.Run();
    EXPECT_EQ(ticks, 2);
}

TEST(IntervalTimer, TicksThatPiledUpAreTakenAsOne) {
    IntervalTimer timer;
    timer.Start(5);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_TRUE(timer.Consume());
    timer.Stop();
    EXPECT_FALSE(timer.Consume());
}

TEST(IntervalTimer, StoppingDropsATickNotYetRead) {
    // A pause that comes while a tick waits must not let that tick through.
    IntervalTimer timer;
    timer.Start(5);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    timer.Stop();
    EXPECT_FALSE(timer.Consume());
    timer.Start(60000);
    EXPECT_FALSE(timer.Consume()); // a full interval from the new start
}

} // namespace
} // namespace ostrivan::posix
