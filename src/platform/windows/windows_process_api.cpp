#include "platform/windows/windows_process_api.h"

#include "platform/windows/command_text.h"
#include "platform/windows/win32.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

namespace ostrivan::windows {
namespace {

static_assert(std::is_same_v<DWORD, std::uint32_t> || sizeof(DWORD) == sizeof(std::uint32_t));

HANDLE ToHandle(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}
Handle FromHandle(HANDLE handle) {
    return reinterpret_cast<Handle>(handle);
}

// The ANSI record, so that names come in the system's code page as the snapshot gives them.
bool CopyEntry(const PROCESSENTRY32& entry, ProcessEntryRecord& record) {
    record.processId = entry.th32ProcessID;
    record.exeFile.fill('\0');
    const std::size_t length = ::strnlen(entry.szExeFile, sizeof(entry.szExeFile));
    std::memcpy(record.exeFile.data(), entry.szExeFile,
                std::min(length, record.exeFile.size() - 1));
    return true;
}

template <class Walk> bool Enumerate(Walk walk, Handle snapshot, ProcessEntryRecord& record) {
    PROCESSENTRY32 entry{};
    // The caller's size goes to the system, which refuses a record of the wrong size.
    entry.dwSize = record.size;
    if (!walk(ToHandle(snapshot), &entry)) {
        return false;
    }
    return CopyEntry(entry, record);
}

// The top-level windows of one process, as EnumWindows finds them.
struct WindowsOf {
    DWORD processId = 0;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    auto* windows = reinterpret_cast<WindowsOf*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == windows->processId) {
        windows->found.push_back(window);
    }
    return TRUE;
}

} // namespace

Handle WindowsProcessApi::CreateToolhelp32Snapshot(std::uint32_t flags, ProcessId processId) {
    return FromHandle(::CreateToolhelp32Snapshot(flags, processId));
}

bool WindowsProcessApi::Process32First(Handle snapshot, ProcessEntryRecord& record) {
    if (record.size > sizeof(PROCESSENTRY32)) {
        ::SetLastError(ERROR_BAD_LENGTH);
        return false;
    }
    return Enumerate(::Process32First, snapshot, record);
}

bool WindowsProcessApi::Process32Next(Handle snapshot, ProcessEntryRecord& record) {
    if (record.size > sizeof(PROCESSENTRY32)) {
        ::SetLastError(ERROR_BAD_LENGTH);
        return false;
    }
    return Enumerate(::Process32Next, snapshot, record);
}

std::uint32_t WindowsProcessApi::ProcessEntryRecordSize() const {
    return sizeof(PROCESSENTRY32);
}

Handle WindowsProcessApi::OpenProcess(std::uint32_t desiredAccess, ProcessId processId) {
    return FromHandle(::OpenProcess(desiredAccess, FALSE, processId));
}

bool WindowsProcessApi::TerminateProcess(Handle process, std::uint32_t exitCode) {
    return ::TerminateProcess(ToHandle(process), exitCode) != FALSE;
}

bool WindowsProcessApi::GetExitCodeProcess(Handle process, std::uint32_t& exitCode) {
    DWORD code = 0;
    if (!::GetExitCodeProcess(ToHandle(process), &code)) {
        return false;
    }
    exitCode = code;
    return true;
}

std::uint32_t WindowsProcessApi::WaitForSingleObject(Handle process, std::uint32_t milliseconds) {
    return ::WaitForSingleObject(ToHandle(process), milliseconds);
}

bool WindowsProcessApi::PostCloseRequest(Handle process) {
    // The id is the process's own for as long as this handle is open.
    WindowsOf windows{::GetProcessId(ToHandle(process)), {}};
    if (windows.processId == 0 || ::WaitForSingleObject(ToHandle(process), 0) != WAIT_TIMEOUT) {
        return false;
    }
    ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&windows));
    bool posted = false;
    for (const HWND window : windows.found) {
        posted = ::PostMessageW(window, WM_CLOSE, 0, 0) != FALSE || posted;
    }
    return posted;
}

bool WindowsProcessApi::GetProcessMemoryInfo(Handle process, MemoryCounters& counters,
                                             std::uint32_t size) {
    // Room for the largest record the system knows, so that no size can make it write past
    // the buffer; a size smaller than its own record is the system's to refuse.
    PROCESS_MEMORY_COUNTERS_EX record{};
    if (size > sizeof(record)) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (!::GetProcessMemoryInfo(ToHandle(process),
                                reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&record), size)) {
        return false;
    }
    counters.size = record.cb;
    counters.workingSetSize = record.WorkingSetSize;
    return true;
}

std::uint32_t WindowsProcessApi::MemoryCountersRecordSize() const {
    return sizeof(PROCESS_MEMORY_COUNTERS);
}

bool CreationTimeOf(HANDLE process, std::uint64_t& creationTime) {
    FILETIME creation{};
    FILETIME exit{};
    FILETIME kernel{};
    FILETIME user{};
    if (!::GetProcessTimes(process, &creation, &exit, &kernel, &user)) {
        return false;
    }
    creationTime =
        (static_cast<std::uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
    return true;
}

bool WindowsProcessApi::GetProcessCreationTime(Handle process, std::uint64_t& creationTime) {
    return CreationTimeOf(ToHandle(process), creationTime);
}

bool WindowsProcessApi::GetProcessImageName(Handle process, std::string& imageName) {
    char path[MAX_PATH * 4] = {};
    DWORD length = sizeof(path);
    if (!::QueryFullProcessImageNameA(ToHandle(process), 0, path, &length)) {
        return false;
    }
    imageName = BaseName(std::string_view(path, length));
    return true;
}

void WindowsProcessApi::CloseHandle(Handle handle) {
    ::CloseHandle(ToHandle(handle));
}

std::uint32_t WindowsProcessApi::GetVersion() {
    return ::GetVersion();
}

Handle WindowsProcessApi::GetCurrentProcess() {
    return FromHandle(::GetCurrentProcess());
}

bool WindowsProcessApi::OpenProcessToken(Handle process, std::uint32_t desiredAccess,
                                         Handle& token) {
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(ToHandle(process), desiredAccess, &opened)) {
        return false;
    }
    token = FromHandle(opened);
    return true;
}

bool WindowsProcessApi::LookupPrivilegeValueA(const char* systemName, const char* name,
                                              Luid& luid) {
    LUID value{};
    const char* system = (systemName != nullptr && *systemName != '\0') ? systemName : nullptr;
    if (!::LookupPrivilegeValueA(system, name, &value)) {
        return false;
    }
    luid.lowPart = value.LowPart;
    luid.highPart = value.HighPart;
    return true;
}

bool WindowsProcessApi::AdjustTokenPrivileges(Handle token, bool disableAll,
                                              const TokenPrivilege& newState) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid.LowPart = newState.luid.lowPart;
    privileges.Privileges[0].Luid.HighPart = newState.luid.highPart;
    privileges.Privileges[0].Attributes = newState.attributes;
    return ::AdjustTokenPrivileges(ToHandle(token), disableAll ? TRUE : FALSE, &privileges, 0,
                                   nullptr, nullptr) != FALSE;
}

} // namespace ostrivan::windows
