// A process id the service recorded can belong to another process by the time it acts on
// it. Ids cannot be forced on Linux, so the second process is shown to the service under
// an identity that carries its id but the creation time of an earlier process: that is
// exactly what a recorded identity looks like after the id was handed on.
#include "platform/failure.h"
#include "platform/posix/pidfd.h"
#include "platform/posix/posix_process_api.h"
#include "platform/posix/spawn.h"
#include "posix_test_support.h"
#include "process/process_identity.h"
#include "process/process_probes.h"
#include "supervisor/supervisor.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

using namespace std::chrono_literals;
using testing::Child;
using testing::Eventually;
using testing::TempDir;

// Resident size that puts a process over the manager's ceiling of 262,144,000 bytes.
constexpr const char* kOverTheCeiling = "hold=260";

bool Ended(pid_t pid) {
    const UniqueFd fd = OpenPidfd(pid);
    return !fd || PidfdEnded(fd.Get());
}

// Just enough of the form's runtime for the supervisor: launches start the program from
// the folder for real, and are ended and reaped on the way out.
class LaunchingRuntime final : public FormRuntime {
public:
    explicit LaunchingRuntime(std::string folder) : folder_(std::move(folder)) {}
    LaunchingRuntime(const LaunchingRuntime&) = delete;
    LaunchingRuntime& operator=(const LaunchingRuntime&) = delete;
    ~LaunchingRuntime() override {
        for (const pid_t pid : launched_) {
            ::kill(pid, SIGKILL);
            testing::WaitForEnd(pid);
        }
    }

    const std::vector<pid_t>& Launched() const { return launched_; }

    void SetStatusText(const std::string&) override {}
    void SetTimerInterval(std::uint32_t) override {}
    void SetTimerEnabled(bool) override {}
    std::int32_t ShowMessageBox(const std::string&, std::int32_t,
                                const std::optional<std::string>&) override {
        return box::kAnswerOk;
    }
    ProcessIdentity LaunchProgram(const std::string& programPath, const std::string&,
                                  std::int32_t) override {
        std::string path = programPath;
        std::replace(path.begin(), path.end(), '\\', '/');
        const Spawned spawned = SpawnDetached(path, {path});
        if (spawned.error != 0) {
            throw Failure(spawned.error, "cannot start " + path);
        }
        launched_.push_back(spawned.pid);
        const UniqueFd pidfd = OpenPidfd(spawned.pid);
        return {static_cast<ProcessId>(spawned.pid),
                PidfdStartTime(spawned.pid, pidfd.Get()).value_or(0)};
    }
    std::string ApplicationFolder() override { return folder_; }
    std::string CommandLineArguments() override { return ""; }
    void End(int) override {}
    void UnloadForm() override {}
    std::int64_t UtcNow() override { return 1'767'268'800'000; }
    std::int64_t MonotonicNow() override { return 0; }

private:
    std::string folder_;
    std::vector<pid_t> launched_;
};

class ProcessIdReuse : public ::testing::Test {
protected:
    // B under a short-lived tool's name, started once A, its predecessor, has ended and
    // been reaped; `stale` is A's identity with B's id.
    void StartSecondProcess(const std::vector<std::string>& arguments) {
        {
            Child first(folder_, "rrdtool.exe");
            const auto a = IdentifyProcess(api_, static_cast<ProcessId>(first.Pid()));
            ASSERT_TRUE(a.has_value());
            a_ = *a;
            ASSERT_TRUE(StillSameProcess(api_, a_));
        }
        // Creation times count in clock ticks: B must start in a later one than A.
        std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(StillSameProcess(api_, a_)); // A is gone
        second_.emplace(folder_, "rrdtool.exe", arguments);
        const auto b = IdentifyProcess(api_, static_cast<ProcessId>(second_->Pid()));
        ASSERT_TRUE(b.has_value());
        b_ = *b;
        ASSERT_NE(b_.creationTime, a_.creationTime);
        stale_ = ProcessIdentity{b_.id, a_.creationTime};
    }

    TempDir folder_;
    PosixProcessApi api_;
    LaunchingRuntime runtime_{folder_.Path()};
    NoActionLog actions_;
    Supervisor supervisor_{api_, runtime_, actions_};
    ProcessIdentity a_;
    ProcessIdentity b_;
    ProcessIdentity stale_;
    std::optional<Child> second_;
};

TEST_F(ProcessIdReuse, TheIdentityCheckRefusesAnotherProcessUnderTheSameId) {
    ASSERT_NO_FATAL_FAILURE(StartSecondProcess({}));
    EXPECT_TRUE(StillSameProcess(api_, b_));
    EXPECT_FALSE(StillSameProcess(api_, stale_));
    EXPECT_FALSE(StillSameProcess(api_, ProcessIdentity{b_.id, b_.creationTime + 1}));
    EXPECT_FALSE(StillSameProcess(api_, ProcessIdentity{b_.id, 0}));
}

TEST_F(ProcessIdReuse, APendingKillRecordedForAnEarlierProcessLeavesTheNewOneAlone) {
    ASSERT_NO_FATAL_FAILURE(StartSecondProcess({}));
    const pid_t b = second_->Pid();

    SweepOutcome outcome;
    supervisor_.State().PendingKills = {stale_};
    supervisor_.KillPendingProcesses(outcome);
    EXPECT_TRUE(supervisor_.State().PendingKills.empty());
    // A termination is sent before KillPendingProcesses returns and takes effect within
    // moments; a slow machine can only make this check weaker.
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(Ended(b)) << "the tool under a reused id was terminated";

    // The same tool under its own identity is terminated.
    supervisor_.State().PendingKills = {b_};
    supervisor_.KillPendingProcesses(outcome);
    ASSERT_TRUE(Eventually([&] { return Ended(b); }));
    const int status = second_->Reap();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST_F(ProcessIdReuse, TheKeeperTakesAProcessUnderAReusedIdForAnEndedManager) {
    // Past the manager's ceiling, so that the keeper would end it were it taken for the
    // manager.
    ASSERT_NO_FATAL_FAILURE(StartSecondProcess({kOverTheCeiling}));
    const pid_t b = second_->Pid();
    ASSERT_TRUE(Eventually([&] { return GetWorkingSetSize(api_, b_) > 262'144'000; }));
    std::filesystem::copy_file(STANDIN_PATH, folder_.Path() + "/vantorelle_manager.exe");

    supervisor_.State().ManagerPid = stale_;
    supervisor_.KeepManagerAlive();
    ASSERT_EQ(runtime_.Launched().size(), 1U) << "the keeper did not see its manager as ended";
    EXPECT_EQ(supervisor_.State().ManagerPid.id, static_cast<ProcessId>(runtime_.Launched()[0]));
    std::this_thread::sleep_for(100ms); // as above
    EXPECT_FALSE(Ended(b)) << "the process under a reused id was terminated";

    // Under its own identity it is taken for the manager, ended for its size, and replaced.
    supervisor_.State().ManagerPid = b_;
    supervisor_.KeepManagerAlive();
    ASSERT_TRUE(Eventually([&] { return Ended(b); }));
    EXPECT_EQ(runtime_.Launched().size(), 2U);
    const int status = second_->Reap();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

} // namespace
} // namespace ostrivan::posix
