#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace ostrivan {

using ProcessId = std::uint32_t;

// An opaque OS handle value: a Win32 HANDLE, or a descriptor on Linux. 0 is "none";
// kInvalidHandle is what a failed snapshot returns.
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = 0;
inline constexpr Handle kInvalidHandle = -1;

inline constexpr std::size_t kMaxImageName = 260;

// The enumeration record, as Process32First/Process32Next fill it. `size` is set by the
// caller to ProcessApi::ProcessEntryRecordSize() before the first call.
struct ProcessEntryRecord {
    std::uint32_t size = 0;
    ProcessId processId = 0;
    std::array<char, kMaxImageName> exeFile{};
};

// The memory counters record of GetProcessMemoryInfo; only the working set is used.
struct MemoryCounters {
    std::uint32_t size = 0;
    std::uint64_t workingSetSize = 0;
};

struct Luid {
    std::uint32_t lowPart = 0;
    std::int32_t highPart = 0;
};

// TOKEN_PRIVILEGES with exactly one entry.
struct TokenPrivilege {
    std::uint32_t count = 1;
    Luid luid;
    std::uint32_t attributes = 0;
};

// A process id alone can be handed to another process once its owner ends; with the
// creation time (GetProcessCreationTime) it names one process for good.
struct ProcessIdentity {
    ProcessId id = 0;
    std::uint64_t creationTime = 0;

    friend bool operator==(const ProcessIdentity&, const ProcessIdentity&) = default;
};

namespace access {
inline constexpr std::uint32_t kTerminate = 0x1;
inline constexpr std::uint32_t kVmRead = 0x10;
inline constexpr std::uint32_t kQueryInformation = 0x400;
inline constexpr std::uint32_t kQueryLimitedInformation = 0x1000;
inline constexpr std::uint32_t kSynchronize = 0x100000;
inline constexpr std::uint32_t kAllAccessNt5 = 0x1F0FFF;
inline constexpr std::uint32_t kTokenAdjustAndQuery = 0x28;
} // namespace access

inline constexpr std::uint32_t kSnapProcess = 2;
inline constexpr std::uint32_t kStillActive = 259;
// Results of WaitForSingleObject.
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 0x102;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
inline constexpr std::uint32_t kPrivilegeEnabled = 2;
inline constexpr std::uint32_t kPrivilegeDisabled = 0;
inline constexpr const char* kDebugPrivilege = "SeDebugPrivilege";

// The process calls of the operating system, shaped as the Win32 calls they stand for.
// Calls report failure through their results and never throw.
class ProcessApi {
public:
    virtual ~ProcessApi() = default;

    // Returns kInvalidHandle when no snapshot can be taken.
    virtual Handle CreateToolhelp32Snapshot(std::uint32_t flags, ProcessId processId) = 0;
    virtual bool Process32First(Handle snapshot, ProcessEntryRecord& record) = 0;
    virtual bool Process32Next(Handle snapshot, ProcessEntryRecord& record) = 0;
    // sizeof the platform's own enumeration record, for ProcessEntryRecord::size.
    virtual std::uint32_t ProcessEntryRecordSize() const = 0;

    // Returns kNoHandle when the process cannot be opened with that access.
    virtual Handle OpenProcess(std::uint32_t desiredAccess, ProcessId processId) = 0;
    virtual bool TerminateProcess(Handle process, std::uint32_t exitCode) = 0;
    // Leaves `exitCode` as it was on failure.
    virtual bool GetExitCodeProcess(Handle process, std::uint32_t& exitCode) = 0;
    // Waits up to `milliseconds` for the process to end: kWaitObject0 once it has,
    // kWaitTimeout while it runs, kWaitFailed when the handle cannot be waited on.
    virtual std::uint32_t WaitForSingleObject(Handle process, std::uint32_t milliseconds) = 0;
    // Asks the process to end on its own, as closing it by hand would: WM_CLOSE posted to
    // each of its top-level windows on Windows, SIGTERM on Linux. Needs terminate access.
    // True when the request was delivered; false for a process that has ended, or has no
    // window to post it to.
    virtual bool PostCloseRequest(Handle process) = 0;
    virtual bool GetProcessMemoryInfo(Handle process, MemoryCounters& counters,
                                      std::uint32_t size) = 0;
    // sizeof the platform's own memory counters record.
    virtual std::uint32_t MemoryCountersRecordSize() const = 0;
    // Creation time in the platform's own units; with the id it names one process for good.
    virtual bool GetProcessCreationTime(Handle process, std::uint64_t& creationTime) = 0;
    // The base name of the process's image file, as the snapshot would report it.
    virtual bool GetProcessImageName(Handle process, std::string& imageName) = 0;
    virtual void CloseHandle(Handle handle) = 0;

    // Bit 31 clear on the NT family.
    virtual std::uint32_t GetVersion() = 0;
    // A pseudo handle of the own process; never closed.
    virtual Handle GetCurrentProcess() = 0;
    virtual bool OpenProcessToken(Handle process, std::uint32_t desiredAccess, Handle& token) = 0;
    // An empty system name means the local system.
    virtual bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid& luid) = 0;
    virtual bool AdjustTokenPrivileges(Handle token, bool disableAll,
                                       const TokenPrivilege& newState) = 0;
};

} // namespace ostrivan
