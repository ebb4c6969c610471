#pragma once

#include "call_log.h"
#include "fault_plan.h"

#include "platform/process_api.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace ostrivan::fakes {

// One process of the simulated table.
struct FakeProcess {
    ProcessId id = 0;
    // The raw image name as the enumeration record carries it: it may hold a NUL anywhere
    // or fill all 260 positions without one.
    std::string imageName;
    bool running = true;
    std::uint32_t exitCode = 0; // once ended
    std::uint64_t workingSet = 0;
    std::uint64_t creationTime = 0;
    // The exact access masks that may open it; nothing = any mask, an empty set = none.
    std::optional<std::set<std::uint32_t>> onlyAccess;
    // Opens only while the debug privilege is enabled, as a system process would.
    bool needsDebugPrivilege = false;
    bool refusesTermination = false;
    bool endsLate = false; // accepts its termination, yet runs on until it exits (Exit)
    // Someone else holds a handle, so the process stays openable after it ended.
    bool heldElsewhere = false;
    std::optional<std::chrono::milliseconds> endsWhenAskedAfter; // and never unasked
    std::uint32_t exitCodeWhenAsked = 0;
    std::optional<std::int64_t> endsAt; // once asked, in the time TimePassed counts
};

struct OpenRequest {
    ProcessId id = 0;
    std::uint32_t access = 0;
    bool granted = false;
};

struct Termination {
    ProcessId id = 0;
    std::uint32_t exitCode = 0;
    std::uint32_t access = 0; // what the handle used for it was opened with
    bool withDebugPrivilege = false;
};

// The process calls of a 64-bit Windows, simulated: a process table, a handle table that
// counts what is open, the debug privilege, and faults planned per call.
class FakeProcessApi : public ProcessApi {
public:
    // sizeof(PROCESSENTRY32) and sizeof(PROCESS_MEMORY_COUNTERS) of a 64-bit build.
    static constexpr std::uint32_t kEntryRecordSize = 304;
    static constexpr std::uint32_t kCountersRecordSize = 72;
    static constexpr std::uint32_t kNtVersion = 0x1DB10106;
    static constexpr std::uint32_t kWindows98Version = 0xC0000A04;
    static constexpr Handle kCurrentProcess = -1;
    static constexpr Luid kDebugLuid{20, 0};

    explicit FakeProcessApi(CallLog& log);

    // --- the process table, in enumeration order
    // A running process with a fresh id and creation time; returns the id.
    ProcessId Add(std::string imageName, std::uint64_t workingSet = 0);
    // Id 0 and creation time 0 are replaced by fresh ones. The reference holds until the
    // next Add.
    FakeProcess& Add(FakeProcess process);
    FakeProcess& At(ProcessId id); // raises std::logic_error when there is no such process
    const FakeProcess* Find(ProcessId id) const;
    // The process ends on its own with `exitCode`; it stays openable while held elsewhere.
    void Exit(ProcessId id, std::uint32_t exitCode, bool heldElsewhere = false);
    // The process is gone; its id no longer opens.
    void Remove(ProcessId id);
    // Just before the nth call from now that names `id` (opening it, or acting on a handle
    // of it), the process ends and is reaped although handles to it are still open, as a
    // pidfd allows, and `newcomer` is handed the same id. Handles opened before keep
    // naming the ended process and every call through them fails.
    void ReuseIdAt(ProcessId id, int nth, FakeProcess newcomer);
    // True once the planned reuse took place.
    bool Reused() const { return reuse_.done; }
    bool IsRunning(ProcessId id) const;
    std::vector<ProcessId> Running() const;
    std::vector<ProcessId> RunningNamed(std::string_view imageName) const;

    // --- time: waits move the runtime's clock on, which tells the time passed back here
    void UseClock(std::function<void(std::chrono::milliseconds)> advance) { advance_ = advance; }
    void TimePassed(std::chrono::milliseconds by);

    // --- what the logic did
    const std::vector<Termination>& Terminations() const { return terminations_; }
    std::vector<ProcessId> TerminatedIds() const;
    const std::vector<OpenRequest>& Opens() const { return opens_; }
    std::size_t OpenHandleCount() const { return handles_.size(); }
    // Closes of a handle that was not open (twice closed, never opened, the pseudo handle).
    int BadCloses() const { return badCloses_; }
    bool PrivilegeEnabled() const { return privilegeEnabled_; }
    // Attributes of every successful AdjustTokenPrivileges, in order (2 up, 0 down).
    const std::vector<std::uint32_t>& PrivilegeChanges() const { return privilegeChanges_; }
    int Calls(const std::string& call) const { return faults_.Calls(call); }

    // --- the platform's answers
    void SetVersion(std::uint32_t version) { version_ = version; }
    // Whether a successful AdjustTokenPrivileges really grants the privilege.
    void SetAdjustGrants(bool grants) { adjustGrants_ = grants; }
    FaultPlan& Faults() { return faults_; }

    // --- ProcessApi
    Handle CreateToolhelp32Snapshot(std::uint32_t flags, ProcessId processId) override;
    bool Process32First(Handle snapshot, ProcessEntryRecord& record) override;
    bool Process32Next(Handle snapshot, ProcessEntryRecord& record) override;
    std::uint32_t ProcessEntryRecordSize() const override { return kEntryRecordSize; }
    Handle OpenProcess(std::uint32_t desiredAccess, ProcessId processId) override;
    bool TerminateProcess(Handle process, std::uint32_t exitCode) override;
    bool GetExitCodeProcess(Handle process, std::uint32_t& exitCode) override;
    std::uint32_t WaitForSingleObject(Handle process, std::uint32_t milliseconds) override;
    bool PostCloseRequest(Handle process) override;
    bool GetProcessMemoryInfo(Handle process, MemoryCounters& counters,
                              std::uint32_t size) override;
    std::uint32_t MemoryCountersRecordSize() const override { return kCountersRecordSize; }
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
    enum class Kind { Snapshot, Process, Token };
    struct Row {
        ProcessId id;
        std::string imageName;
    };
    struct OpenHandle {
        Kind kind;
        ProcessId process = 0;
        std::uint32_t access = 0;
        std::vector<Row> rows; // a snapshot's copy of the table
        std::size_t next = 0;
        std::uint64_t creationTime = 0; // of the process it was opened on
    };
    struct PlannedReuse {
        ProcessId id = 0;
        int remaining = 0;
        FakeProcess newcomer;
        bool done = false;
    };

    Handle NewHandle(OpenHandle handle);
    OpenHandle* HandleOf(Handle handle, Kind kind);
    // The process behind a process handle opened with every bit of `access`.
    FakeProcess* ProcessFor(Handle handle, std::uint32_t access);
    FakeProcess* FindMutable(ProcessId id);
    bool FillRecord(OpenHandle& snapshot, ProcessEntryRecord& record);
    // Drops an ended process that nobody can reach any more.
    void ReapIfUnreachable(ProcessId id);
    // Counts one call naming `id` and carries out a reuse planned for it.
    void Named(ProcessId id);
    // The process behind an open process handle.
    ProcessId HandleProcess(Handle handle) const;
    void Log(std::string entry) { log_.Add("api." + std::move(entry)); }

    CallLog& log_;
    FaultPlan faults_;
    std::vector<FakeProcess> table_;
    std::map<Handle, OpenHandle> handles_;
    std::vector<OpenRequest> opens_;
    std::vector<Termination> terminations_;
    std::vector<std::uint32_t> privilegeChanges_;
    std::function<void(std::chrono::milliseconds)> advance_;
    std::int64_t now_ = 0; // milliseconds passed
    Handle nextHandle_ = 0x100;
    ProcessId nextId_ = 1000;
    std::uint64_t nextCreationTime_ = 133'000'000'000'000'000;
    std::uint32_t version_ = kNtVersion;
    bool adjustGrants_ = true;
    bool privilegeEnabled_ = false;
    int badCloses_ = 0;
    PlannedReuse reuse_;
};

std::string Hex(std::uint32_t value);

} // namespace ostrivan::fakes
