#include "platform/failure.h"
#include "platform/posix/event_loop.h"
#include "platform/posix/posix_form_runtime.h"
#include "platform/posix/posix_process_api.h"
#include "platform/posix/proc_reader.h"
#include "platform/posix/proc_text.h"
#include "posix_console_support.h"
#include "posix_test_support.h"
#include "process/process_identity.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

using testing::Pipe;
using testing::TempDir;

// A signal mask line of /proc/PID/status ("SigBlk:\t000...").
std::uint64_t ParseStatusMask(const std::string& status, const std::string& name) {
    const auto at = status.find(name + ":\t");
    return at == std::string::npos
               ? ~0ULL
               : std::stoull(status.substr(at + name.size() + 2, 16), nullptr, 16);
}

class RecordingForm : public FormEvents {
public:
    void OnTimer() override {
        ++ticks;
        if (onTimer) {
            onTimer();
        }
    }
    void OnQueryUnload(std::int16_t& cancel) override {
        ++unloadRequests;
        cancel = cancelUnload ? -1 : 0;
    }
    int ticks = 0;
    int unloadRequests = 0;
    bool cancelUnload = false;
    std::function<void()> onTimer;
};

class FormRuntimeTest : public ::testing::Test {
protected:
    void SetUp() override { testing::DrainLoopSignals(); }
    void TearDown() override {
        // Children that ended after the loop stopped.
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        testing::DrainLoopSignals();
    }

    PosixFormRuntime& Runtime(std::uint32_t interval = 60000, bool enabled = true) {
        runtime_.emplace(loop_, console_, notifier_, folder_.Path(), "", interval, enabled);
        runtime_->Attach(form_);
        return *runtime_;
    }
    std::string Install(const std::string& name) {
        const std::string path = folder_.Path() + "/" + name;
        std::filesystem::copy_file(STANDIN_PATH, path);
        return path;
    }

    TempDir folder_; // holds a blank on purpose below
    EventLoop loop_;
    IntervalTimer deadline_ = testing::QuitAfter(loop_);
    UniqueFd nothing_{::open("/dev/null", O_RDONLY | O_CLOEXEC)};
    Pipe out_;
    Pipe err_;
    Console console_{nothing_.Get(), out_.write.Get(), err_.write.Get()};
    SystemdNotifier notifier_;
    RecordingForm form_;
    std::optional<PosixFormRuntime> runtime_;
};

TEST_F(FormRuntimeTest, WithoutATerminalABoxIsLoggedAndAnsweredWithItsDefault) {
    auto& runtime = Runtime();
    EXPECT_EQ(runtime.ShowMessageBox("Invalid Parameter", box::kOkOnly, std::nullopt),
              box::kAnswerOk);
    EXPECT_EQ(runtime.ShowMessageBox("Are you sure?\r\nthe service will be stopped",
                                     box::kYesNo | box::kQuestion, "Stop Service"),
              box::kAnswerNo);
    const std::string log = err_.Drain();
    EXPECT_NE(log.find("message box \"o-service\": Invalid Parameter -> OK"), std::string::npos)
        << log;
    EXPECT_NE(log.find("message box \"Stop Service\": Are you sure? the service will be "
                       "stopped -> No"),
              std::string::npos)
        << log;
}

TEST_F(FormRuntimeTest, OnATerminalABoxWaitsForAnAnswer) {
    testing::Terminal terminal;
    Console console(terminal.slave.Get(), terminal.slave.Get(), terminal.slave.Get());
    PosixFormRuntime runtime(loop_, console, notifier_, folder_.Path(), "", 60000, true);
    terminal.Type("perhaps\ny\n");
    EXPECT_EQ(runtime.ShowMessageBox("Unload?", box::kYesNo | box::kQuestion, "Stop Service"),
              box::kAnswerYes);
    terminal.Type("n\n");
    EXPECT_EQ(runtime.ShowMessageBox("Unload?", box::kYesNo, "Stop Service"), box::kAnswerNo);
    terminal.Type("\n");
    EXPECT_EQ(runtime.ShowMessageBox("Error Shelling file.", box::kExclamation, "Error"),
              box::kAnswerOk);
    const std::string screen = terminal.ReadUntil("[Enter]");
    EXPECT_NE(screen.find("[Stop Service]\r\nUnload?\r\nYes or no? [y/n]"), std::string::npos)
        << screen;
}

TEST_F(FormRuntimeTest, LaunchesAProgramWithItsArgumentsOnItsOwn) {
    const std::string folder = folder_.Path() + "/suite dir";
    std::filesystem::create_directory(folder);
    std::filesystem::copy_file(STANDIN_PATH, folder + "/vantorelle_watcher.exe");
    auto& runtime = Runtime();
    const std::string program = folder + "\\vantorelle_watcher.exe";
    const ProcessIdentity launched = runtime.LaunchProgram(program, "\"" + program + "\" 900", 1);
    const ProcessId pid = launched.id;
    const auto child = static_cast<pid_t>(pid);
    PosixProcessApi api;
    const auto opened = IdentifyProcess(api, pid);
    ASSERT_TRUE(opened);
    EXPECT_EQ(*opened, launched);

    // The new image sets up its arguments a moment after the launch has returned.
    std::optional<std::string> cmdline;
    ASSERT_TRUE(testing::Eventually([&] {
        cmdline = ReadSmallFile(ProcPath(child, "cmdline"));
        return cmdline && !cmdline->empty();
    }));
    EXPECT_EQ(*cmdline, folder + "/vantorelle_watcher.exe" + std::string(1, '\0') + "900" +
                            std::string(1, '\0'));
    // Its own session: a Ctrl-C at the service's terminal is not for the suite.
    EXPECT_EQ(::getsid(child), child);
    EXPECT_EQ(ReadLink(ProcPath(child, "fd/0")), "/dev/null");
    // Nothing of the loop's signal handling carries over into the program.
    const auto status = ReadSmallFile(ProcPath(child, "status"));
    ASSERT_TRUE(status);
    EXPECT_EQ(ParseStatusMask(*status, "SigBlk"), 0U) << *status;
    std::uint64_t loopSignals = 1ULL << (SIGPIPE - 1);
    for (const int signal : EventLoop::Signals()) {
        loopSignals |= 1ULL << (signal - 1);
    }
    EXPECT_EQ(ParseStatusMask(*status, "SigIgn") & loopSignals, 0U) << *status;
    // Nor any descriptor of the service's, nor one it inherited.
    int inherited[2];
    ASSERT_EQ(::pipe(inherited), 0);
    const ProcessId second = runtime.LaunchProgram(program, "\"" + program + "\"", 1).id;
    ::close(inherited[0]);
    ::close(inherited[1]);
    // The program's dynamic loader holds a library open for a moment after the launch; a
    // descriptor that came from the service would stay for good.
    std::vector<std::string> descriptors;
    const bool onlyStandardOnes = testing::Eventually(
        [&] {
            descriptors.clear();
            for (const auto& fd :
                 std::filesystem::directory_iterator(ProcPath(static_cast<pid_t>(second), "fd"))) {
                descriptors.push_back(fd.path().filename());
            }
            std::sort(descriptors.begin(), descriptors.end());
            return descriptors == std::vector<std::string>{"0", "1", "2"};
        },
        std::chrono::seconds(10));
    EXPECT_TRUE(onlyStandardOnes) << ::testing::PrintToString(descriptors);
    ::kill(static_cast<pid_t>(second), SIGKILL);
    testing::WaitForEnd(static_cast<pid_t>(second));
    ::kill(child, SIGKILL);
    testing::WaitForEnd(child);
}

TEST_F(FormRuntimeTest, AProgramThatCannotBeStartedRaisesAFailure) {
    auto& runtime = Runtime();
    const std::string program = folder_.Path() + "\\o-graphs.exe";
    try {
        runtime.LaunchProgram(program, "\"" + program + "\"", 1);
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.Number(), ENOENT);
        EXPECT_NE(failure.Description().find(folder_.Path() + "/o-graphs.exe"), std::string::npos);
    }
}

TEST_F(FormRuntimeTest, AChildThatEndsIsReapedAndLogged) {
    const std::string program = Install("vantorelle_manager.exe");
    auto& runtime = Runtime();
    const ProcessIdentity launched =
        runtime.LaunchProgram(program, "\"" + program + "\" exit=3", 1);
    // Taken before the loop can reap it, however fast it ends.
    EXPECT_NE(launched.creationTime, 0u);
    const ProcessId pid = launched.id;
    std::string log;
    loop_.Watch(err_.read.Get(), [&] {
        log += err_.Drain();
        if (log.find(" ended,") != std::string::npos) {
            loop_.Quit(0);
        }
    });
    loop_.Run();
    EXPECT_NE(
        log.find("vantorelle_manager.exe (pid " + std::to_string(pid) + ") ended, exit code 3"),
        std::string::npos)
        << log;
    EXPECT_EQ(::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG), -1); // no zombie
}

TEST_F(FormRuntimeTest, InterruptAsksToCloseTheWindowAndEndsUnlessCancelled) {
    Runtime();
    form_.cancelUnload = true;
    ::raise(SIGINT);
    ::raise(SIGHUP);
    loop_.OnSignal(SIGUSR1, [&] { loop_.Quit(9); });
    ::raise(SIGUSR1);
    EXPECT_EQ(loop_.Run(), 9);
    EXPECT_EQ(form_.unloadRequests, 2);

    form_.cancelUnload = false;
    EventLoop again;
    const auto bounded = testing::QuitAfter(again);
    ::raise(SIGINT);
    // The runtime's handlers live in loop_; a fresh runtime for the fresh loop.
    PosixFormRuntime runtime(again, console_, notifier_, folder_.Path(), "", 60000, true);
    runtime.Attach(form_);
    EXPECT_EQ(again.Run(), 0);
    EXPECT_EQ(form_.unloadRequests, 3);
}

TEST_F(FormRuntimeTest, APausedTimerDeliversNoTickThatWasAlreadyDue) {
    auto& runtime = Runtime(5, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(40)); // ticks are due
    runtime.SetTimerEnabled(false);
    loop_.Post([&] { loop_.Quit(0); });
    loop_.Run();
    EXPECT_EQ(form_.ticks, 0);
}

TEST_F(FormRuntimeTest, TicksThatCameDuringAHandlerArriveAsOne) {
    Runtime(5, true);
    form_.onTimer = [&] {
        if (form_.ticks == 1) {
            // A long sweep: many intervals pass.
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        } else {
            loop_.Post([&] { loop_.Quit(0); });
        }
    };
    loop_.Run();
    EXPECT_EQ(form_.ticks, 2);
}

TEST_F(FormRuntimeTest, EveryStatusIsOneLineOnStandardOutput) {
    auto& runtime = Runtime();
    runtime.SetStatusText("Loading");
    runtime.SetStatusText("Ostrivan Monitoring Service Control signal 128");
    EXPECT_EQ(out_.Drain(), "Loading\nOstrivan Monitoring Service Control signal 128\n");
}

} // namespace
} // namespace ostrivan::posix
