#pragma once

#include "platform/process_api.h"
#include "platform/windows/win32.h"

namespace ostrivan::windows {

// The creation time of an open process, as a FILETIME count.
bool CreationTimeOf(HANDLE process, std::uint64_t& creationTime);

// The process calls straight onto kernel32, advapi32 and psapi, with the platform's own
// record sizes.
class WindowsProcessApi final : public ProcessApi {
public:
    Handle CreateToolhelp32Snapshot(std::uint32_t flags, ProcessId processId) override;
    bool Process32First(Handle snapshot, ProcessEntryRecord& record) override;
    bool Process32Next(Handle snapshot, ProcessEntryRecord& record) override;
    std::uint32_t ProcessEntryRecordSize() const override;

    Handle OpenProcess(std::uint32_t desiredAccess, ProcessId processId) override;
    bool TerminateProcess(Handle process, std::uint32_t exitCode) override;
    bool GetExitCodeProcess(Handle process, std::uint32_t& exitCode) override;
    std::uint32_t WaitForSingleObject(Handle process, std::uint32_t milliseconds) override;
    // WM_CLOSE posted to every top-level window of the process on this desktop.
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
};

} // namespace ostrivan::windows
