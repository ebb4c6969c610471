#include "fake_process_api.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace ostrivan::fakes {
namespace {

std::string CutAtNul(const std::string& raw) {
    return raw.substr(0, raw.find('\0'));
}

constexpr std::uint32_t kTokenAdjustPrivileges = 0x20;

bool HasAll(std::uint32_t granted, std::uint32_t wanted) {
    return (granted & wanted) == wanted;
}

// Full query rights imply the limited ones, as on the real system.
std::uint32_t Effective(std::uint32_t access) {
    return (access & access::kQueryInformation) != 0 ? access | access::kQueryLimitedInformation
                                                     : access;
}

} // namespace

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

FakeProcessApi::FakeProcessApi(CallLog& log)
    : log_(log),
      faults_({"CreateToolhelp32Snapshot", "Process32First", "Process32Next", "OpenProcess",
               "TerminateProcess", "GetExitCodeProcess", "PostCloseRequest", "GetProcessMemoryInfo",
               "GetProcessCreationTime", "GetProcessImageName", "OpenProcessToken",
               "LookupPrivilegeValueA", "AdjustTokenPrivileges", "WaitForSingleObject"}) {}

// --- the process table

ProcessId FakeProcessApi::Add(std::string imageName, std::uint64_t workingSet) {
    FakeProcess process;
    process.imageName = std::move(imageName);
    process.workingSet = workingSet;
    return Add(std::move(process)).id;
}

FakeProcess& FakeProcessApi::Add(FakeProcess process) {
    if (process.id == 0) {
        process.id = nextId_;
        nextId_ += 4;
    }
    if (FindMutable(process.id) != nullptr) {
        throw std::logic_error("process id already in the table");
    }
    if (process.creationTime == 0) {
        process.creationTime = nextCreationTime_;
    }
    nextCreationTime_ += 10'000;
    table_.push_back(std::move(process));
    return table_.back();
}

FakeProcess& FakeProcessApi::At(ProcessId id) {
    FakeProcess* process = FindMutable(id);
    if (process == nullptr) {
        throw std::logic_error("no process with id " + std::to_string(id));
    }
    return *process;
}

const FakeProcess* FakeProcessApi::Find(ProcessId id) const {
    const auto it =
        std::find_if(table_.begin(), table_.end(), [id](const auto& p) { return p.id == id; });
    return it == table_.end() ? nullptr : &*it;
}

FakeProcess* FakeProcessApi::FindMutable(ProcessId id) {
    return const_cast<FakeProcess*>(std::as_const(*this).Find(id));
}

void FakeProcessApi::Exit(ProcessId id, std::uint32_t exitCode, bool heldElsewhere) {
    FakeProcess& process = At(id);
    process.running = false;
    process.exitCode = exitCode;
    process.heldElsewhere = heldElsewhere;
    ReapIfUnreachable(id);
}

void FakeProcessApi::Remove(ProcessId id) {
    At(id);
    std::erase_if(table_, [id](const auto& p) { return p.id == id; });
}

void FakeProcessApi::ReuseIdAt(ProcessId id, int nth, FakeProcess newcomer) {
    newcomer.id = id;
    newcomer.creationTime = 0;
    reuse_ = PlannedReuse{id, nth, std::move(newcomer), false};
}

void FakeProcessApi::Named(ProcessId id) {
    if (reuse_.done || reuse_.id != id || id == 0 || --reuse_.remaining > 0) {
        return;
    }
    reuse_.done = true;
    std::erase_if(table_, [id](const auto& p) { return p.id == id; });
    Add(reuse_.newcomer);
}

ProcessId FakeProcessApi::HandleProcess(Handle handle) const {
    const auto it = handles_.find(handle);
    return it == handles_.end() || it->second.kind != Kind::Process ? 0 : it->second.process;
}

bool FakeProcessApi::IsRunning(ProcessId id) const {
    const FakeProcess* process = Find(id);
    return process != nullptr && process->running;
}

std::vector<ProcessId> FakeProcessApi::Running() const {
    std::vector<ProcessId> ids;
    for (const auto& p : table_) {
        if (p.running) {
            ids.push_back(p.id);
        }
    }
    return ids;
}

std::vector<ProcessId> FakeProcessApi::RunningNamed(std::string_view imageName) const {
    std::vector<ProcessId> ids;
    for (const auto& p : table_) {
        if (p.running && CutAtNul(p.imageName) == imageName) {
            ids.push_back(p.id);
        }
    }
    return ids;
}

std::vector<ProcessId> FakeProcessApi::TerminatedIds() const {
    std::vector<ProcessId> ids;
    for (const auto& t : terminations_) {
        ids.push_back(t.id);
    }
    return ids;
}

void FakeProcessApi::ReapIfUnreachable(ProcessId id) {
    const FakeProcess* process = Find(id);
    if (process == nullptr || process->running || process->heldElsewhere) {
        return;
    }
    const bool handleOpen = std::any_of(handles_.begin(), handles_.end(), [&](const auto& h) {
        return h.second.kind == Kind::Process && h.second.process == id &&
               h.second.creationTime == process->creationTime;
    });
    if (!handleOpen) {
        std::erase_if(table_, [id](const auto& p) { return p.id == id; });
    }
}

// --- handles

Handle FakeProcessApi::NewHandle(OpenHandle handle) {
    const Handle value = nextHandle_;
    nextHandle_ += 4;
    handles_.emplace(value, std::move(handle));
    return value;
}

FakeProcessApi::OpenHandle* FakeProcessApi::HandleOf(Handle handle, Kind kind) {
    const auto it = handles_.find(handle);
    return it == handles_.end() || it->second.kind != kind ? nullptr : &it->second;
}

FakeProcess* FakeProcessApi::ProcessFor(Handle handle, std::uint32_t access) {
    OpenHandle* open = HandleOf(handle, Kind::Process);
    if (open == nullptr || !HasAll(Effective(open->access), access)) {
        return nullptr;
    }
    // A handle names one process: never the one that was handed its id later.
    FakeProcess* process = FindMutable(open->process);
    return process != nullptr && process->creationTime == open->creationTime ? process : nullptr;
}

void FakeProcessApi::CloseHandle(Handle handle) {
    Log("CloseHandle " + std::to_string(handle));
    faults_.Count("CloseHandle");
    const auto it = handles_.find(handle);
    if (it == handles_.end()) {
        ++badCloses_;
        return;
    }
    const bool process = it->second.kind == Kind::Process;
    const ProcessId id = it->second.process;
    handles_.erase(it);
    if (process) {
        ReapIfUnreachable(id);
    }
}

// --- enumeration

Handle FakeProcessApi::CreateToolhelp32Snapshot(std::uint32_t flags, ProcessId processId) {
    Log("CreateToolhelp32Snapshot " + std::to_string(flags) + " " + std::to_string(processId));
    if (faults_.Hit("CreateToolhelp32Snapshot") || (flags & kSnapProcess) == 0) {
        return kInvalidHandle;
    }
    OpenHandle snapshot{Kind::Snapshot, 0, 0, {}, 0};
    for (const auto& p : table_) {
        if (p.running) {
            snapshot.rows.push_back(Row{p.id, p.imageName});
        }
    }
    return NewHandle(std::move(snapshot));
}

bool FakeProcessApi::FillRecord(OpenHandle& snapshot, ProcessEntryRecord& record) {
    if (record.size != kEntryRecordSize || snapshot.next >= snapshot.rows.size()) {
        return false;
    }
    const Row& row = snapshot.rows[snapshot.next++];
    record.processId = row.id;
    record.exeFile.fill('\0');
    std::memcpy(record.exeFile.data(), row.imageName.data(),
                std::min(row.imageName.size(), record.exeFile.size()));
    return true;
}

bool FakeProcessApi::Process32First(Handle snapshot, ProcessEntryRecord& record) {
    Log("Process32First");
    OpenHandle* open = HandleOf(snapshot, Kind::Snapshot);
    if (faults_.Hit("Process32First") || open == nullptr) {
        return false;
    }
    open->next = 0;
    return FillRecord(*open, record);
}

bool FakeProcessApi::Process32Next(Handle snapshot, ProcessEntryRecord& record) {
    Log("Process32Next");
    OpenHandle* open = HandleOf(snapshot, Kind::Snapshot);
    if (faults_.Hit("Process32Next") || open == nullptr) {
        return false;
    }
    return FillRecord(*open, record);
}

// --- one process

Handle FakeProcessApi::OpenProcess(std::uint32_t desiredAccess, ProcessId processId) {
    Log("OpenProcess " + Hex(desiredAccess) + " " + std::to_string(processId));
    Named(processId);
    bool granted = !faults_.Hit("OpenProcess");
    const FakeProcess* process = Find(processId);
    granted = granted && process != nullptr;
    if (granted && process->onlyAccess) {
        granted = process->onlyAccess->contains(desiredAccess);
    }
    if (granted && process->needsDebugPrivilege) {
        granted = privilegeEnabled_;
    }
    opens_.push_back(OpenRequest{processId, desiredAccess, granted});
    if (!granted) {
        return kNoHandle;
    }
    return NewHandle(
        OpenHandle{Kind::Process, processId, desiredAccess, {}, 0, process->creationTime});
}

bool FakeProcessApi::TerminateProcess(Handle process, std::uint32_t exitCode) {
    Log("TerminateProcess " + std::to_string(process) + " " + std::to_string(exitCode));
    Named(HandleProcess(process));
    if (faults_.Hit("TerminateProcess")) {
        return false;
    }
    FakeProcess* target = ProcessFor(process, access::kTerminate);
    if (target == nullptr || !target->running || target->refusesTermination) {
        return false;
    }
    target->running = target->endsLate; // one that ends late runs on until it exits
    target->exitCode = exitCode;
    target->heldElsewhere = false;
    terminations_.push_back(
        Termination{target->id, exitCode, handles_.at(process).access, privilegeEnabled_});
    return true;
}

bool FakeProcessApi::GetExitCodeProcess(Handle process, std::uint32_t& exitCode) {
    Log("GetExitCodeProcess " + std::to_string(process));
    Named(HandleProcess(process));
    if (faults_.Hit("GetExitCodeProcess")) {
        return false;
    }
    const FakeProcess* target = ProcessFor(process, access::kQueryLimitedInformation);
    if (target == nullptr) {
        return false;
    }
    exitCode = target->running ? kStillActive : target->exitCode;
    return true;
}

std::uint32_t FakeProcessApi::WaitForSingleObject(Handle process, std::uint32_t milliseconds) {
    Log("WaitForSingleObject " + std::to_string(process) + " " + std::to_string(milliseconds));
    Named(HandleProcess(process));
    if (faults_.Hit("WaitForSingleObject")) {
        return kWaitFailed;
    }
    const FakeProcess* target = ProcessFor(process, access::kSynchronize);
    if (target == nullptr) {
        return kWaitFailed;
    }
    if (target->running && advance_) { // until the process ends or the time is up
        const std::int64_t end = std::min(target->endsAt.value_or(INT64_MAX), now_ + milliseconds);
        advance_(std::chrono::milliseconds(end - now_));
        target = ProcessFor(process, access::kSynchronize); // time may have reaped others
    }
    return target != nullptr && target->running ? kWaitTimeout : kWaitObject0;
}

bool FakeProcessApi::PostCloseRequest(Handle process) {
    Log("PostCloseRequest " + std::to_string(process));
    Named(HandleProcess(process));
    FakeProcess* target = ProcessFor(process, access::kTerminate);
    if (faults_.Hit("PostCloseRequest") || target == nullptr || !target->running) {
        return false;
    }
    if (target->endsWhenAskedAfter && !target->endsAt) {
        target->endsAt = now_ + target->endsWhenAskedAfter->count();
    }
    return true;
}

void FakeProcessApi::TimePassed(std::chrono::milliseconds by) {
    now_ += by.count();
    for (const ProcessId id : Running()) {
        const FakeProcess& p = At(id);
        if (p.endsAt.value_or(INT64_MAX) <= now_) {
            Exit(id, p.exitCodeWhenAsked, p.heldElsewhere);
        }
    }
}

bool FakeProcessApi::GetProcessMemoryInfo(Handle process, MemoryCounters& counters,
                                          std::uint32_t size) {
    Log("GetProcessMemoryInfo " + std::to_string(process) + " " + std::to_string(size));
    Named(HandleProcess(process));
    if (faults_.Hit("GetProcessMemoryInfo") || size != kCountersRecordSize) {
        return false;
    }
    const FakeProcess* target =
        ProcessFor(process, access::kQueryLimitedInformation | access::kVmRead);
    if (target == nullptr) {
        return false;
    }
    counters.size = kCountersRecordSize;
    counters.workingSetSize = target->workingSet;
    return true;
}

bool FakeProcessApi::GetProcessCreationTime(Handle process, std::uint64_t& creationTime) {
    Log("GetProcessCreationTime " + std::to_string(process));
    Named(HandleProcess(process));
    if (faults_.Hit("GetProcessCreationTime")) {
        return false;
    }
    const FakeProcess* target = ProcessFor(process, access::kQueryLimitedInformation);
    if (target == nullptr) {
        return false;
    }
    creationTime = target->creationTime;
    return true;
}

bool FakeProcessApi::GetProcessImageName(Handle process, std::string& imageName) {
    Log("GetProcessImageName " + std::to_string(process));
    Named(HandleProcess(process));
    if (faults_.Hit("GetProcessImageName")) {
        return false;
    }
    const FakeProcess* target = ProcessFor(process, access::kQueryLimitedInformation);
    if (target == nullptr) {
        return false;
    }
    imageName = CutAtNul(target->imageName);
    return true;
}

// --- version and privilege

std::uint32_t FakeProcessApi::GetVersion() {
    Log("GetVersion");
    faults_.Count("GetVersion");
    return version_;
}

Handle FakeProcessApi::GetCurrentProcess() {
    faults_.Count("GetCurrentProcess");
    return kCurrentProcess;
}

bool FakeProcessApi::OpenProcessToken(Handle process, std::uint32_t desiredAccess, Handle& token) {
    Log("OpenProcessToken " + Hex(desiredAccess));
    if (faults_.Hit("OpenProcessToken") || process != kCurrentProcess) {
        return false;
    }
    token = NewHandle(OpenHandle{Kind::Token, 0, desiredAccess, {}, 0});
    return true;
}

bool FakeProcessApi::LookupPrivilegeValueA(const char* systemName, const char* name, Luid& luid) {
    const std::string system = systemName == nullptr ? "(null)" : systemName;
    const std::string privilege = name == nullptr ? "(null)" : name;
    Log("LookupPrivilegeValueA " + system + " " + privilege);
    const bool local = system == "(null)" || system.empty();
    if (faults_.Hit("LookupPrivilegeValueA") || !local || privilege != kDebugPrivilege) {
        return false;
    }
    luid = kDebugLuid;
    return true;
}

bool FakeProcessApi::AdjustTokenPrivileges(Handle token, bool disableAll,
                                           const TokenPrivilege& newState) {
    Log("AdjustTokenPrivileges " + std::to_string(newState.attributes));
    if (faults_.Hit("AdjustTokenPrivileges")) {
        return false;
    }
    const OpenHandle* open = HandleOf(token, Kind::Token);
    const bool knownPrivilege = newState.count == 1 &&
                                newState.luid.lowPart == kDebugLuid.lowPart &&
                                newState.luid.highPart == kDebugLuid.highPart;
    if (open == nullptr || !HasAll(open->access, kTokenAdjustPrivileges) || !knownPrivilege) {
        return false;
    }
    privilegeChanges_.push_back(newState.attributes);
    if (disableAll || (newState.attributes & kPrivilegeEnabled) == 0) {
        privilegeEnabled_ = false;
    } else if (adjustGrants_) {
        privilegeEnabled_ = true;
    }
    return true;
}

} // namespace ostrivan::fakes
