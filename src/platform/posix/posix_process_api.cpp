#include "platform/posix/posix_process_api.h"

#include "platform/posix/kill_capability.h"
#include "platform/posix/pidfd.h"
#include "platform/posix/proc_reader.h"
#include "platform/posix/proc_text.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstring>
#include <memory>
#include <string_view>

namespace ostrivan::posix {
namespace {

constexpr std::uint32_t kQueryAny = access::kQueryInformation | access::kQueryLimitedInformation;
constexpr std::uint32_t kTokenAdjustPrivileges = 0x20;

struct DirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

std::optional<pid_t> PidFromName(const char* name) {
    const std::string_view text(name);
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
    if (error != std::errc() || end != text.data() + text.size() || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

unsigned VersionPart(const char*& text) {
    unsigned value = 0;
    while (*text >= '0' && *text <= '9') {
        value = value * 10 + static_cast<unsigned>(*text++ - '0');
    }
    if (*text == '.') {
        ++text;
    }
    return value;
}

} // namespace

PosixProcessApi::PosixProcessApi() {
    // The privilege is held only for the length of a termination.
    SetKillCapability(false);
}

Handle PosixProcessApi::CreateToolhelp32Snapshot(std::uint32_t flags, ProcessId) {
    if ((flags & kSnapProcess) == 0) {
        return kInvalidHandle;
    }
    Snapshot snapshot;
    snapshot.procDir.Reset(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!snapshot.procDir) {
        return kInvalidHandle;
    }
    const int walker = ::fcntl(snapshot.procDir.Get(), F_DUPFD_CLOEXEC, 0);
    if (walker < 0) {
        return kInvalidHandle;
    }
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(walker));
    if (!dir) {
        ::close(walker);
        return kInvalidHandle;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const auto pid = PidFromName(entry->d_name);
        if (!pid) {
            continue;
        }
        // A process that ended since the directory was read is simply not listed.
        if (auto name = ImageNameOf(*pid)) {
            snapshot.entries.emplace_back(static_cast<ProcessId>(*pid), std::move(*name));
        }
    }
    const Handle handle = snapshot.procDir.Get();
    snapshots_.insert_or_assign(handle, std::move(snapshot));
    return handle;
}

bool PosixProcessApi::FillRecord(Snapshot& snapshot, ProcessEntryRecord& record) {
    if (record.size < sizeof(ProcessEntryRecord) || snapshot.next >= snapshot.entries.size()) {
        return false;
    }
    const auto& [pid, name] = snapshot.entries[snapshot.next];
    record.processId = pid;
    record.exeFile.fill('\0');
    std::memcpy(record.exeFile.data(), name.data(), std::min(name.size(), kMaxImageName - 1));
    return true;
}

bool PosixProcessApi::Process32First(Handle snapshot, ProcessEntryRecord& record) {
    const auto found = snapshots_.find(snapshot);
    if (found == snapshots_.end()) {
        return false;
    }
    found->second.next = 0;
    return FillRecord(found->second, record);
}

bool PosixProcessApi::Process32Next(Handle snapshot, ProcessEntryRecord& record) {
    const auto found = snapshots_.find(snapshot);
    if (found == snapshots_.end()) {
        return false;
    }
    ++found->second.next;
    return FillRecord(found->second, record);
}

std::uint32_t PosixProcessApi::ProcessEntryRecordSize() const {
    return sizeof(ProcessEntryRecord);
}

Handle PosixProcessApi::OpenProcess(std::uint32_t desiredAccess, ProcessId processId) {
    if (processId == 0 || processId > static_cast<ProcessId>(INT_MAX)) {
        return kNoHandle;
    }
    OpenedProcess process{OpenPidfd(static_cast<pid_t>(processId)), static_cast<pid_t>(processId),
                          desiredAccess};
    if (!process.pidfd) {
        return kNoHandle;
    }
    const Handle handle = process.pidfd.Get();
    processes_.insert_or_assign(handle, std::move(process));
    return handle;
}

PosixProcessApi::OpenedProcess* PosixProcessApi::Find(Handle process, std::uint32_t anyOf) {
    const auto found = processes_.find(process);
    if (found == processes_.end() || (found->second.access & anyOf) == 0) {
        return nullptr;
    }
    return &found->second;
}

std::optional<std::uint64_t> PosixProcessApi::StartTime(const OpenedProcess& process) {
    return PidfdStartTime(process.pid, process.pidfd.Get());
}

bool PosixProcessApi::TerminateProcess(Handle process, std::uint32_t exitCode) {
    OpenedProcess* target = Find(process, access::kTerminate);
    if (target == nullptr || PidfdEnded(target->pidfd.Get())) {
        return false;
    }
    const auto startTime = StartTime(*target);
    if (!PidfdKill(target->pidfd.Get())) {
        return false;
    }
    if (startTime) {
        terminationCodes_.Remember({target->pid, *startTime}, exitCode);
    }
    return true;
}

bool PosixProcessApi::GetExitCodeProcess(Handle process, std::uint32_t& exitCode) {
    OpenedProcess* target = Find(process, kQueryAny);
    if (target == nullptr) {
        return false;
    }
    if (!PidfdEnded(target->pidfd.Get())) {
        exitCode = kStillActive;
        return true;
    }
    if (const auto startTime = StartTime(*target)) {
        if (const auto recorded = terminationCodes_.Find({target->pid, *startTime})) {
            exitCode = *recorded;
            return true;
        }
    }
    exitCode = EndedChildExitCode(target->pidfd.Get()).value_or(0);
    return true;
}

std::uint32_t PosixProcessApi::WaitForSingleObject(Handle process, std::uint32_t milliseconds) {
    OpenedProcess* target = Find(process, access::kSynchronize);
    if (target == nullptr) {
        return kWaitFailed;
    }
    const auto ended = PidfdWaitEnded(target->pidfd.Get(), milliseconds);
    if (!ended) {
        return kWaitFailed;
    }
    return *ended ? kWaitObject0 : kWaitTimeout;
}

bool PosixProcessApi::PostCloseRequest(Handle process) {
    OpenedProcess* target = Find(process, access::kTerminate);
    if (target == nullptr || PidfdEnded(target->pidfd.Get())) {
        return false;
    }
    // The request goes to programs of other accounts too, as their termination would.
    const bool raised = SetKillCapability(true);
    const bool sent = PidfdTerminate(target->pidfd.Get());
    if (raised) {
        SetKillCapability(false);
    }
    return sent;
}

bool PosixProcessApi::GetProcessMemoryInfo(Handle process, MemoryCounters& counters,
                                           std::uint32_t size) {
    OpenedProcess* target = Find(process, kQueryAny);
    if (target == nullptr || (target->access & access::kVmRead) == 0 ||
        size < sizeof(MemoryCounters)) {
        return false;
    }
    const auto text = ReadSmallFile(ProcPath(target->pid, "status"));
    const auto rss = text ? ParseStatusKilobytes(*text, "VmRSS") : std::nullopt;
    if (!rss || !PidfdHoldsPid(target->pidfd.Get())) {
        return false;
    }
    counters.size = sizeof(MemoryCounters);
    counters.workingSetSize = *rss;
    return true;
}

std::uint32_t PosixProcessApi::MemoryCountersRecordSize() const {
    return sizeof(MemoryCounters);
}

bool PosixProcessApi::GetProcessCreationTime(Handle process, std::uint64_t& creationTime) {
    OpenedProcess* target = Find(process, kQueryAny);
    if (target == nullptr) {
        return false;
    }
    const auto startTime = StartTime(*target);
    if (!startTime) {
        return false;
    }
    creationTime = *startTime;
    return true;
}

bool PosixProcessApi::GetProcessImageName(Handle process, std::string& imageName) {
    OpenedProcess* target = Find(process, kQueryAny);
    if (target == nullptr) {
        return false;
    }
    auto name = ImageNameOf(target->pid);
    if (!name || !PidfdHoldsPid(target->pidfd.Get())) {
        return false;
    }
    imageName = std::move(*name);
    return true;
}

void PosixProcessApi::CloseHandle(Handle handle) {
    // Only descriptors handed out here are ever closed.
    snapshots_.erase(handle);
    processes_.erase(handle);
    tokens_.erase(handle);
}

std::uint32_t PosixProcessApi::GetVersion() {
    // Laid out as Windows does: major in the low byte, minor in the next, the build in the
    // high word with bit 31 clear, which says NT family.
    utsname system{};
    if (::uname(&system) != 0) {
        return 0;
    }
    const char* text = system.release;
    const unsigned major = VersionPart(text) & 0xFF;
    const unsigned minor = VersionPart(text) & 0xFF;
    const unsigned build = VersionPart(text) & 0x7FFF;
    return major | (minor << 8) | (build << 16);
}

Handle PosixProcessApi::GetCurrentProcess() {
    return kCurrentProcess;
}

bool PosixProcessApi::OpenProcessToken(Handle process, std::uint32_t desiredAccess, Handle& token) {
    if (process != kCurrentProcess) {
        return false;
    }
    Token opened{UniqueFd(::open("/proc/self", O_PATH | O_DIRECTORY | O_CLOEXEC)), desiredAccess};
    if (!opened.self) {
        return false;
    }
    token = opened.self.Get();
    tokens_.insert_or_assign(token, std::move(opened));
    return true;
}

bool PosixProcessApi::LookupPrivilegeValueA(const char* systemName, const char* name, Luid& luid) {
    if ((systemName != nullptr && *systemName != '\0') || name == nullptr ||
        !EqualsIgnoringCase(name, kDebugPrivilege)) {
        return false;
    }
    luid = kDebugLuid;
    return true;
}

bool PosixProcessApi::AdjustTokenPrivileges(Handle token, bool disableAll,
                                            const TokenPrivilege& newState) {
    const auto found = tokens_.find(token);
    if (found == tokens_.end() || (found->second.access & kTokenAdjustPrivileges) == 0) {
        return false;
    }
    if (disableAll) {
        return SetKillCapability(false);
    }
    if (newState.count != 1 || newState.luid.lowPart != kDebugLuid.lowPart ||
        newState.luid.highPart != kDebugLuid.highPart) {
        return false;
    }
    return SetKillCapability((newState.attributes & kPrivilegeEnabled) != 0);
}

} // namespace ostrivan::posix
