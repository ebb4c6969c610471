#include "platform/failure.h"
#include "platform/posix/posix_service_host.h"
#include "platform/posix/proc_reader.h"
#include "platform/posix/unit_file.h"
#include "posix_console_support.h"
#include "posix_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

class RecordingService : public ServiceHostEvents {
public:
    explicit RecordingService(EventLoop& loop) : loop_(loop) {}
    void OnStart(HostFlag& success) override {
        trace.push_back("start");
        if (confirmStart) {
            success = kHostTrue;
        }
        if (onStart) {
            onStart();
        }
    }
    void OnStop() override {
        trace.push_back("stop");
        loop_.Quit(0);
    }
    void OnPause(HostFlag& success) override {
        trace.push_back("pause");
        success = kHostTrue;
    }
    void OnContinue(HostFlag& success) override {
        trace.push_back("continue");
        success = kHostTrue;
    }
    void OnControl(std::int32_t code) override {
        trace.push_back("control " + std::to_string(code));
        if (code == 131) {
            loop_.Quit(0);
        }
    }
    std::vector<std::string> trace;
    bool confirmStart = true;
    std::function<void()> onStart;

private:
    EventLoop& loop_;
};

class ServiceHostTest : public ::testing::Test {
protected:
    void SetUp() override { testing::DrainLoopSignals(); }
    void TearDown() override { testing::DrainLoopSignals(); }

    std::string Read(const char* name) {
        return ReadSmallFile(units_.Path() + "/" + name).value_or("(missing)");
    }

    testing::TempDir units_;
    EventLoop loop_;
    IntervalTimer deadline_ = testing::QuitAfter(loop_);
    UniqueFd nothing_{::open("/dev/null", O_RDONLY | O_CLOEXEC)};
    testing::Pipe out_;
    testing::Pipe err_;
    Console console_{nothing_.Get(), out_.write.Get(), err_.write.Get()};
    SystemdNotifier notifier_;
    PosixServiceHost host_{loop_, console_, notifier_, units_.Path(), "/opt/my suite/o-service"};
    RecordingService service_{loop_};
};

TEST_F(ServiceHostTest, RegistersAUnitAndItsParameterAndRemovesBoth) {
    ASSERT_TRUE(host_.Register());
    EXPECT_EQ(Read(kUnitName),
              UnitFileText("Ostrivan Monitoring Service", "/opt/my suite/o-service"));
    host_.SaveParameter("Parameters", "TimerInterval", "60000");
    host_.SaveParameter("Parameters", "TimerInterval", "60000");
    EXPECT_EQ(Read(kParametersName), "[Parameters]\nTimerInterval=60000\n");

    EXPECT_TRUE(host_.Unregister());
    EXPECT_TRUE(std::filesystem::is_empty(units_.Path()));
    EXPECT_FALSE(host_.Unregister());
}

TEST_F(ServiceHostTest, ASecondRegistrationIsRefusedAndChangesNothing) {
    ASSERT_TRUE(host_.Register());
    PosixServiceHost other(loop_, console_, notifier_, units_.Path(), "/elsewhere/o-service");
    EXPECT_FALSE(other.Register());
    EXPECT_NE(Read(kUnitName).find("/opt/my suite/o-service"), std::string::npos);
}

TEST_F(ServiceHostTest, RegistrationFailsWhereTheUnitCannotBeWritten) {
    PosixServiceHost nowhere(loop_, console_, notifier_, units_.Path() + "/missing", "/o-service");
    EXPECT_FALSE(nowhere.Register());
    try {
        nowhere.SaveParameter("Parameters", "TimerInterval", "60000");
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.Number(), ENOENT);
    }
    EXPECT_THROW(host_.SaveParameter("Parameters", "Timer\nInterval", "1"), Failure);
}

TEST_F(ServiceHostTest, TheUnitFolderComesFromTheEnvironment) {
    ::setenv("OSTRIVAN_UNIT_DIR", "/tmp/units", 1);
    EXPECT_EQ(PosixServiceHost::UnitDirectoryFromEnvironment(), "/tmp/units");
    ::unsetenv("OSTRIVAN_UNIT_DIR");
    EXPECT_EQ(PosixServiceHost::UnitDirectoryFromEnvironment(), "/etc/systemd/system");
}

TEST_F(ServiceHostTest, ConnectRaisesTheStartFromTheLoopNotFromWithin) {
    host_.Attach(service_);
    host_.AcceptedControls(2);
    host_.Connect();
    EXPECT_TRUE(service_.trace.empty());
    service_.onStart = [&] {
        ::raise(SIGUSR1);
        ::raise(SIGUSR2);
        ::raise(SIGRTMIN + 3);
    };
    loop_.Run();
    EXPECT_EQ(service_.trace,
              (std::vector<std::string>{"start", "pause", "continue", "control 131"}));
}

TEST_F(ServiceHostTest, TermStopsAndRequestStopGoesThroughTheLoop) {
    host_.Attach(service_);
    host_.Connect();
    service_.onStart = [&] { ::raise(SIGTERM); };
    loop_.Run();
    EXPECT_EQ(service_.trace, (std::vector<std::string>{"start", "stop"}));

    service_.trace.clear();
    host_.RequestStop();
    EXPECT_TRUE(service_.trace.empty());
    loop_.Run();
    EXPECT_EQ(service_.trace, (std::vector<std::string>{"stop"}));
}

TEST_F(ServiceHostTest, NoEventReachesAServiceThatHasNotConnected) {
    host_.Attach(service_);
    host_.AcceptedControls(2);
    ::raise(SIGUSR1);
    ::raise(SIGTERM);
    EXPECT_EQ(loop_.Run(), 128 + SIGTERM);
    EXPECT_TRUE(service_.trace.empty());
}

TEST_F(ServiceHostTest, PauseIsRefusedWhenTheServiceDoesNotAcceptIt) {
    host_.Attach(service_);
    host_.AcceptedControls(0);
    host_.Connect();
    service_.onStart = [&] {
        ::raise(SIGUSR1);
        ::raise(SIGRTMIN + 3);
    };
    loop_.Run();
    EXPECT_EQ(service_.trace, (std::vector<std::string>{"start", "control 131"}));
    EXPECT_NE(err_.Drain().find("pause refused"), std::string::npos);
}

TEST_F(ServiceHostTest, AStartTheServiceDoesNotConfirmEndsTheRun) {
    host_.Attach(service_);
    service_.confirmStart = false;
    host_.Connect();
    EXPECT_EQ(loop_.Run(), EXIT_FAILURE);
}

TEST_F(ServiceHostTest, EventsGoToTheLogAsOneLineEach) {
    host_.WriteEvent(1, 109, "Service paused");
    host_.WriteEvent(109, 1, "[53] File not found\r\nsecond line");
    const std::string log = err_.Drain();
    EXPECT_NE(log.find(" event 109 (kind 1): Service paused\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" event 1 (kind 109): [53] File not found second line\n"), std::string::npos)
        << log;
    EXPECT_EQ(host_.ServiceTitle(), "Ostrivan Monitoring Service");
}

} // namespace
} // namespace ostrivan::posix
