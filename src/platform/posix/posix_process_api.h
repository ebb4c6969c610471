#pragma once

#include "platform/posix/termination_codes.h"
#include "platform/posix/unique_fd.h"
#include "platform/process_api.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ostrivan::posix {

// The process calls over /proc and pidfd. Every handle it gives out is a descriptor of its
// own: a snapshot holds /proc open, a process handle is a pidfd, a token holds /proc/self.
// The debug privilege is CAP_KILL, kept out of the effective set except around a
// termination.
class PosixProcessApi final : public ProcessApi {
public:
    // What GetCurrentProcess hands out: the value Windows uses for its pseudo handle.
    static constexpr Handle kCurrentProcess = -1;
    // The identifier LookupPrivilegeValueA gives SeDebugPrivilege, as on Windows.
    static constexpr Luid kDebugLuid{20, 0};

    PosixProcessApi();

    Handle CreateToolhelp32Snapshot(std::uint32_t flags, ProcessId processId) override;
    bool Process32First(Handle snapshot, ProcessEntryRecord& record) override;
    bool Process32Next(Handle snapshot, ProcessEntryRecord& record) override;
    std::uint32_t ProcessEntryRecordSize() const override;

    Handle OpenProcess(std::uint32_t desiredAccess, ProcessId processId) override;
    bool TerminateProcess(Handle process, std::uint32_t exitCode) override;
    bool GetExitCodeProcess(Handle process, std::uint32_t& exitCode) override;
    std::uint32_t WaitForSingleObject(Handle process, std::uint32_t milliseconds) override;
    // SIGTERM through the pidfd, with CAP_KILL held for as long as the call takes.
    bool PostCloseRequest(Handle process) override;
    bool GetProcessMemoryInfo(Handle process, MemoryCounters& counters,
                              std::uint32_t size) override;
    std::uint32_t MemoryCountersRecordSize() const override;
    bool GetProcessCreationTime(Handle process, std::uint64_t& creationTime) override;
    bool GetProcessImageName(Handle process, std::string& imageName) override;
    void CloseHandle(Handle handle) override;

    std::uint32_t GetVersion() override;
    Handle GetCurrentProcess() override;
    bool OpenProcessToken(Handle process, std::uint32_t desiredAccess, Handle& token) override;
    bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid& luid) override;
    bool AdjustTokenPrivileges(Handle token, bool disableAll,
                               const TokenPrivilege& newState) override;

private:
    struct Snapshot {
        UniqueFd procDir;
        std::vector<std::pair<ProcessId, std::string>> entries;
        std::size_t next = 0;
    };
    // More than a sweep or a shutdown terminates on a busy server.
    static constexpr std::size_t kRememberedTerminations = 256;

    struct OpenedProcess {
        UniqueFd pidfd;
        pid_t pid = 0;
        std::uint32_t access = 0;
    };
    struct Token {
        UniqueFd self;
        std::uint32_t access = 0;
    };
    bool FillRecord(Snapshot& snapshot, ProcessEntryRecord& record);
    OpenedProcess* Find(Handle process, std::uint32_t anyOf);
    std::optional<std::uint64_t> StartTime(const OpenedProcess& process);

    std::map<Handle, Snapshot> snapshots_;
    std::map<Handle, OpenedProcess> processes_;
    std::map<Handle, Token> tokens_;
    TerminationCodes terminationCodes_{kRememberedTerminations};
};

} // namespace ostrivan::posix
