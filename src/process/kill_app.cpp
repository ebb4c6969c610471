#include "process/kill_app.h"

#include "platform/handles.h"
#include "process/process_snapshot.h"

#include <exception>

namespace ostrivan {
namespace {

constexpr std::uint32_t kNotNtFamily = 0x80000000u;

// A process that cannot be opened for its termination may still be there, protected; one
// whose id names another process by now is not.
Action Unopened(ProcessApi& api, ProcessId processId, const ProcessCheck& isMeant) {
    const ProcessHandle query(api, api.OpenProcess(access::kQueryLimitedInformation, processId));
    return query.Valid() && isMeant(query.Get()) ? Action::TerminationRefused : Action::AlreadyGone;
}

Action OpenAndTerminate(ProcessApi& api, ProcessId processId, std::uint32_t exitCode,
                        const ProcessCheck& isMeant) {
    ProcessHandle process(api, api.OpenProcess(access::kAllAccessNt5, processId));
    if (!process.Valid()) {
        return Unopened(api, processId, isMeant);
    }
    if (!isMeant(process.Get())) {
        return Action::AlreadyGone;
    }
    return TerminateOutcome(api, process.Get(), exitCode);
}

// The snapshot's row may be stale by the time its id is opened.
bool StillNamed(ProcessApi& api, Handle process, std::string_view target) {
    std::string imageName;
    return api.GetProcessImageName(process, imageName) &&
           MatchImageName(NormalizeImageName(imageName), target);
}

// The debug privilege of the own token, enabled for as long as one termination takes and
// disabled again on every way out.
class DebugPrivilegeRaised {
public:
    DebugPrivilegeRaised(ProcessApi& api, Handle token, const TokenPrivilege& privilege)
        : api_(api), token_(token), privilege_(privilege) {}
    DebugPrivilegeRaised(const DebugPrivilegeRaised&) = delete;
    DebugPrivilegeRaised& operator=(const DebugPrivilegeRaised&) = delete;
    ~DebugPrivilegeRaised() {
        privilege_.attributes = kPrivilegeDisabled;
        api_.AdjustTokenPrivileges(token_, false, privilege_);
    }

private:
    ProcessApi& api_;
    Handle token_;
    TokenPrivilege privilege_;
};

} // namespace

bool KillApp(ProcessApi& api, std::string_view target, const KillReport& report) {
    // An empty target would end with every name and so terminate the whole machine.
    if (target.empty()) {
        return false;
    }
    bool matched = false;
    try {
        for (const auto& row : TakeProcessSnapshot(api)) {
            if (MatchImageName(row.Name, target)) {
                matched = true;
                const Action outcome =
                    KillProcessOutcome(api, row.ProcessId, 0, [&](Handle process) {
                        return StillNamed(api, process, target);
                    });
                if (report) {
                    report(row.Name, row.ProcessId, outcome);
                }
            }
        }
    } catch (const std::exception&) {
        // The callers go on with their next name whatever happened here.
    }
    return matched;
}

Action TerminateOutcome(ProcessApi& api, Handle process, std::uint32_t exitCode) {
    if (api.TerminateProcess(process, exitCode)) {
        return Action::Terminated;
    }
    // A refused termination of a process that has ended in the meantime is no refusal; the
    // process tells whether it has ended, whatever its exit code.
    return api.WaitForSingleObject(process, 0) == kWaitObject0 ? Action::AlreadyGone
                                                               : Action::TerminationRefused;
}

bool KillProcess(ProcessApi& api, ProcessId processId, std::uint32_t exitCode,
                 const ProcessCheck& isMeant) {
    return KillProcessOutcome(api, processId, exitCode, isMeant) == Action::Terminated;
}

Action KillProcessOutcome(ProcessApi& api, ProcessId processId, std::uint32_t exitCode,
                          const ProcessCheck& isMeant) {
    if ((api.GetVersion() & kNotNtFamily) != 0) {
        return OpenAndTerminate(api, processId, exitCode, isMeant);
    }

    Handle rawToken = kNoHandle;
    if (!api.OpenProcessToken(api.GetCurrentProcess(), access::kTokenAdjustAndQuery, rawToken)) {
        return Action::TerminationRefused;
    }
    TokenHandle token(api, rawToken);

    // Without the privilege there is no attempt at all: no quiet fallback to plain rights.
    TokenPrivilege privilege;
    if (!api.LookupPrivilegeValueA("", kDebugPrivilege, privilege.luid)) {
        return Action::TerminationRefused;
    }
    privilege.attributes = kPrivilegeEnabled;
    if (!api.AdjustTokenPrivileges(token.Get(), false, privilege)) {
        return Action::TerminationRefused;
    }
    const DebugPrivilegeRaised raised(api, token.Get(), privilege);
    return OpenAndTerminate(api, processId, exitCode, isMeant);
}

} // namespace ostrivan
