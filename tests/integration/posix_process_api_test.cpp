#include "platform/posix/kill_capability.h"
#include "platform/posix/pidfd.h"
#include "platform/posix/posix_process_api.h"
#include "posix_test_support.h"
#include "process/process_identity.h"
#include "process/process_probes.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <string>

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

using testing::Child;
using testing::Eventually;
using testing::TempDir;

std::map<ProcessId, std::string> Snapshot(PosixProcessApi& api) {
    std::map<ProcessId, std::string> table;
    const Handle snapshot = api.CreateToolhelp32Snapshot(kSnapProcess, 0);
    EXPECT_NE(snapshot, kInvalidHandle);
    ProcessEntryRecord record;
    record.size = api.ProcessEntryRecordSize();
    for (bool more = api.Process32First(snapshot, record); more;
         more = api.Process32Next(snapshot, record)) {
        table[record.processId] = record.exeFile.data();
    }
    api.CloseHandle(snapshot);
    return table;
}

// The child has ended (it is a zombie until reaped).
bool Ended(pid_t pid) {
    const UniqueFd fd = OpenPidfd(pid);
    return fd && PidfdEnded(fd.Get());
}

class ProcessApiTest : public ::testing::Test {
protected:
    TempDir folder_;
    PosixProcessApi api_;
};

TEST_F(ProcessApiTest, SnapshotListsEveryProcessUnderItsImageName) {
    Child tool(folder_, "rrdtool.exe");
    Child watcher(folder_, "vantorelle_watcher.exe", {"900"});
    const auto table = Snapshot(api_);
    EXPECT_EQ(table.at(static_cast<ProcessId>(tool.Pid())), "rrdtool.exe");
    EXPECT_EQ(table.at(static_cast<ProcessId>(watcher.Pid())), "vantorelle_watcher.exe");
    EXPECT_EQ(table.at(static_cast<ProcessId>(::getpid())), "posix_platform_tests");
    EXPECT_GT(table.size(), 3U);
}

TEST_F(ProcessApiTest, SnapshotNamesAProcessWhoseExecutableIsGoneByItsCommandName) {
    Child zombie(folder_, "report_check.exe", {"exit=0"});
    ASSERT_TRUE(Eventually([&] { return Ended(zombie.Pid()); }));
    // An ended, unreaped process has no executable any more.
    EXPECT_EQ(Snapshot(api_).at(static_cast<ProcessId>(zombie.Pid())), "report_check.ex");
}

TEST_F(ProcessApiTest, SnapshotRefusesARecordOfTheWrongSize) {
    const Handle snapshot = api_.CreateToolhelp32Snapshot(kSnapProcess, 0);
    ProcessEntryRecord record;
    record.size = api_.ProcessEntryRecordSize() - 1;
    EXPECT_FALSE(api_.Process32First(snapshot, record));
    api_.CloseHandle(snapshot);
    EXPECT_EQ(api_.CreateToolhelp32Snapshot(0, 0), kInvalidHandle);
    EXPECT_FALSE(api_.Process32First(kInvalidHandle, record));
}

TEST_F(ProcessApiTest, ExitStatusIs259WhileRunningAndTheTerminationCodeAfterwards) {
    Child child(folder_, "vantorelle_manager.exe");
    const Handle process = api_.OpenProcess(access::kAllAccessNt5, child.Pid());
    ASSERT_NE(process, kNoHandle);
    std::uint32_t code = 0;
    ASSERT_TRUE(api_.GetExitCodeProcess(process, code));
    EXPECT_EQ(code, kStillActive);
    EXPECT_EQ(api_.WaitForSingleObject(process, 0), kWaitTimeout);

    ASSERT_TRUE(api_.TerminateProcess(process, 259));
    ASSERT_TRUE(Eventually([&] { return Ended(child.Pid()); }));
    ASSERT_TRUE(api_.GetExitCodeProcess(process, code));
    EXPECT_EQ(code, 259U); // recorded: SIGKILL carries no code
    EXPECT_EQ(api_.WaitForSingleObject(process, 0), kWaitObject0); // ended, whatever its code
    api_.CloseHandle(process);

    // Another handle on the same ended process knows it as well.
    const Handle again = api_.OpenProcess(access::kQueryInformation, child.Pid());
    ASSERT_NE(again, kNoHandle);
    code = 1;
    ASSERT_TRUE(api_.GetExitCodeProcess(again, code));
    EXPECT_EQ(code, 259U);
    EXPECT_FALSE(api_.TerminateProcess(again, 0)); // no terminate access, and ended anyway
    api_.CloseHandle(again);
    EXPECT_TRUE(WIFSIGNALED(child.Reap()));
}

TEST_F(ProcessApiTest, ExitStatusOfAnEndedChildIsItsExitCode) {
    Child child(folder_, "o-graphs.exe", {"exit=5"});
    ASSERT_TRUE(Eventually([&] { return Ended(child.Pid()); }));
    const Handle process = api_.OpenProcess(access::kQueryInformation, child.Pid());
    ASSERT_NE(process, kNoHandle);
    std::uint32_t code = 0;
    ASSERT_TRUE(api_.GetExitCodeProcess(process, code));
    EXPECT_EQ(code, 5U);
    // Refused is kept for processes that still run: this one has ended, though not reaped.
    const auto identity = IdentifyProcess(api_, static_cast<ProcessId>(child.Pid()));
    ASSERT_TRUE(identity);
    EXPECT_EQ(EndProcess(api_, *identity, 259), Action::AlreadyGone);
    // The question leaves the child to whoever reaps it.
    EXPECT_EQ(WEXITSTATUS(child.Reap()), 5);
    api_.CloseHandle(process);
}

// Under a filter that answers pidfd_open with EPERM, as container runtimes do, the probe that
// keeps the service from starting without the call fails too, not only on ENOSYS.
TEST(PidfdProbe, AnyFailureOfPidfdOpenOnTheOwnProcessIsReported) {
    EXPECT_EQ(PidfdOpenError(), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_pidfd_open, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        const sock_fprog program{4, filter};
        const bool filtered = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                              ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
        ::_exit(filtered && PidfdOpenError() == EPERM ? 0 : 1);
    }
    EXPECT_EQ(testing::WaitForEnd(child), 0);
}

TEST_F(ProcessApiTest, AHandleNeverReachesAProcessThatTookOverTheId) {
    Child child(folder_, "o-alerts.exe");
    const Handle process = api_.OpenProcess(access::kAllAccessNt5, child.Pid());
    ASSERT_NE(process, kNoHandle);
    std::uint64_t before = 0;
    ASSERT_TRUE(api_.GetProcessCreationTime(process, before));
    ::kill(child.Pid(), SIGKILL);
    child.Reap();

    // Gone for good: whatever now carries the id, the handle answers nothing.
    std::uint64_t after = 0;
    std::string name;
    MemoryCounters counters;
    EXPECT_FALSE(api_.GetProcessCreationTime(process, after));
    EXPECT_FALSE(api_.GetProcessImageName(process, name));
    EXPECT_FALSE(api_.GetProcessMemoryInfo(process, counters, api_.MemoryCountersRecordSize()));
    EXPECT_FALSE(api_.TerminateProcess(process, 0));
    api_.CloseHandle(process);
    EXPECT_EQ(api_.OpenProcess(access::kQueryInformation, child.Pid()), kNoHandle);
}

TEST_F(ProcessApiTest, IdentifiesAProcessByCreationTimeAndImageName) {
    Child child(folder_, "klaxo_msn.exe");
    const Handle first = api_.OpenProcess(access::kQueryLimitedInformation, child.Pid());
    const Handle second = api_.OpenProcess(access::kAllAccessNt5, child.Pid());
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    std::string name;
    ASSERT_TRUE(api_.GetProcessCreationTime(first, a));
    ASSERT_TRUE(api_.GetProcessCreationTime(second, b));
    EXPECT_EQ(a, b);
    EXPECT_GT(a, 0U);
    ASSERT_TRUE(api_.GetProcessImageName(second, name));
    EXPECT_EQ(name, "klaxo_msn.exe");
    api_.CloseHandle(first);
    api_.CloseHandle(second);
}

TEST_F(ProcessApiTest, WorkingSetIsTheResidentSizeInBytes) {
    Child child(folder_, "vantorelle_manager.exe", {"hold=64"});
    const Handle process =
        api_.OpenProcess(access::kQueryInformation | access::kVmRead, child.Pid());
    MemoryCounters counters;
    ASSERT_TRUE(Eventually([&] {
        return api_.GetProcessMemoryInfo(process, counters, api_.MemoryCountersRecordSize()) &&
               counters.workingSetSize >= 64ULL << 20;
    }));
    EXPECT_LT(counters.workingSetSize, 256ULL << 20);
    EXPECT_FALSE(api_.GetProcessMemoryInfo(process, counters, api_.MemoryCountersRecordSize() - 1));
    api_.CloseHandle(process);
}

TEST_F(ProcessApiTest, EachCallNeedsTheAccessItsHandleWasOpenedWith) {
    Child child(folder_, "o-alerts.exe");
    const Handle terminateOnly = api_.OpenProcess(access::kTerminate, child.Pid());
    const Handle queryOnly = api_.OpenProcess(access::kQueryLimitedInformation, child.Pid());
    std::uint32_t code = 7;
    std::uint64_t created = 0;
    MemoryCounters counters;
    EXPECT_FALSE(api_.GetExitCodeProcess(terminateOnly, code));
    EXPECT_EQ(code, 7U); // left as it was
    EXPECT_FALSE(api_.GetProcessCreationTime(terminateOnly, created));
    EXPECT_FALSE(api_.GetProcessMemoryInfo(queryOnly, counters, api_.MemoryCountersRecordSize()));
    EXPECT_FALSE(api_.TerminateProcess(queryOnly, 0));
    EXPECT_TRUE(api_.TerminateProcess(terminateOnly, 0));
    api_.CloseHandle(terminateOnly);
    api_.CloseHandle(queryOnly);
    EXPECT_TRUE(WIFSIGNALED(child.Reap()));
}

TEST_F(ProcessApiTest, OpeningNoProcessGivesNoHandle) {
    EXPECT_EQ(api_.OpenProcess(access::kAllAccessNt5, 0), kNoHandle);
    EXPECT_EQ(api_.OpenProcess(access::kAllAccessNt5, 0xFFFFFFF0U), kNoHandle);
}

TEST_F(ProcessApiTest, EveryHandleIsADescriptorClosedByCloseHandle) {
    Child child(folder_, "o-alerts.exe");
    const int before = testing::OpenDescriptorCount();
    for (int round = 0; round < 50; ++round) {
        const Handle snapshot = api_.CreateToolhelp32Snapshot(kSnapProcess, 0);
        const Handle process = api_.OpenProcess(access::kAllAccessNt5, child.Pid());
        Handle token = kNoHandle;
        ASSERT_TRUE(api_.OpenProcessToken(api_.GetCurrentProcess(), 0x28, token));
        EXPECT_EQ(testing::OpenDescriptorCount(), before + 3);
        api_.CloseHandle(snapshot);
        api_.CloseHandle(process);
        api_.CloseHandle(token);
    }
    EXPECT_EQ(testing::OpenDescriptorCount(), before);
}

TEST_F(ProcessApiTest, CloseHandleLeavesDescriptorsItDidNotHandOutAlone) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    api_.CloseHandle(pipeEnds[0]);
    EXPECT_EQ(::write(pipeEnds[1], "x", 1), 1);
    char c = 0;
    EXPECT_EQ(::read(pipeEnds[0], &c, 1), 1);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

TEST_F(ProcessApiTest, DebugPrivilegeIsKillCapabilityRaisedOnlyOnRequest) {
    const auto start = ReadKillCapability();
    ASSERT_TRUE(start);
    EXPECT_FALSE(start->effective); // dropped until a termination asks for it

    Luid luid;
    ASSERT_TRUE(api_.LookupPrivilegeValueA("", "SeDebugPrivilege", luid));
    EXPECT_EQ(luid.lowPart, 20U);
    EXPECT_FALSE(api_.LookupPrivilegeValueA("", "SeShutdownPrivilege", luid));
    EXPECT_FALSE(api_.LookupPrivilegeValueA("otherhost", "SeDebugPrivilege", luid));

    Handle token = kNoHandle;
    ASSERT_TRUE(api_.OpenProcessToken(api_.GetCurrentProcess(), 0x28, token));
    TokenPrivilege privilege;
    privilege.luid = luid;
    privilege.attributes = kPrivilegeEnabled;
    // Success also when the privilege is not granted, as on Windows.
    ASSERT_TRUE(api_.AdjustTokenPrivileges(token, false, privilege));
    EXPECT_EQ(ReadKillCapability()->effective, start->permitted);
    privilege.attributes = kPrivilegeDisabled;
    ASSERT_TRUE(api_.AdjustTokenPrivileges(token, false, privilege));
    EXPECT_FALSE(ReadKillCapability()->effective);
    api_.CloseHandle(token);

    Handle queryToken = kNoHandle;
    ASSERT_TRUE(api_.OpenProcessToken(api_.GetCurrentProcess(), 0x08, queryToken));
    privilege.attributes = kPrivilegeEnabled;
    EXPECT_FALSE(api_.AdjustTokenPrivileges(queryToken, false, privilege));
    api_.CloseHandle(queryToken);
}

TEST_F(ProcessApiTest, VersionSaysNtFamily) {
    EXPECT_EQ(api_.GetVersion() & 0x80000000U, 0U);
    EXPECT_NE(api_.GetVersion() & 0xFFU, 0U);
}

} // namespace
} // namespace ostrivan::posix
