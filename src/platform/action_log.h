#pragma once

#include "platform/process_api.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ostrivan {

// What the service did to one process.
enum class Action : std::uint8_t {
    Launched,           // a program of the suite was started
    Terminated,         // a process was ended by the service
    TerminationRefused, // the platform refused to end it
    AlreadyGone,        // it had ended, or its id moved on, before the service acted
    AskedToEnd,         // a program of the suite was asked to end on its own
    EndedWhenAsked,     // and ended within the grace period, without a termination
};

// Why the service did it.
enum class ActionReason : std::uint8_t {
    StartUp,            // a launch of the start-up sequence
    ManagerFirstLaunch, // the keeper's first launch of the manager
    ManagerEnded,       // the manager had ended; `exitCode` holds its code
    ManagerOverCeiling, // the manager's working set passed the ceiling; `workingSet` holds it
    ShortLivedTool,     // a short-lived tool seen by the last sweep
    OverdueCheck,       // a check program overdue; `firstSeenUtc` holds its first sighting
    StartupList,        // a stale side program of the start-up sequence's list
    ShutdownList,       // a program of the shutdown list
    StopRequest,        // the service is stopping and asks the suite to end first
};

// One action with its reason, as the supervision code records it.
struct ActionRecord {
    Action action = Action::Launched;
    ActionReason reason = ActionReason::StartUp;
    std::string program;   // the normalized image name, or the launched program's file name
    std::string arguments; // Launched: the arguments it was given, if any
    ProcessId pid = 0;
    std::uint32_t exitCode = 0;    // ManagerEnded: its code; Terminated: the code it was given
    std::uint64_t workingSet = 0;  // ManagerOverCeiling, in bytes
    std::int64_t firstSeenUtc = 0; // OverdueCheck: seconds since 1970-01-01 00:00 UTC
    // ManagerEnded: false when the ended manager could no longer be opened to read its code.
    bool exitCodeKnown = true;
    // ManagerEnded: the signal that ended it ("SIGKILL"), where the platform tells; empty
    // when it exited.
    std::string exitSignal{};

    friend bool operator==(const ActionRecord&, const ActionRecord&) = default;
};

// A launch of the manager in place of one that had ended or grown past its ceiling.
inline bool IsRelaunch(const ActionRecord& record) {
    return record.action == Action::Launched && (record.reason == ActionReason::ManagerEnded ||
                                                 record.reason == ActionReason::ManagerOverCeiling);
}

// Where the platform keeps the records: the journal, the event log. Never raises: a record
// that cannot be written is lost and the supervision goes on.
class ActionLog {
public:
    virtual ~ActionLog() = default;
    virtual void Record(const ActionRecord& record) noexcept = 0;
    // One sweep has ended, with the terminations it recorded: a platform that sums up
    // routine records writes the sum here.
    virtual void SweepEnded(const std::vector<ActionRecord>& /*terminations*/) noexcept {}
    // The stop sequence has asked, waited and run its list, with the records it made: a
    // platform that sums up the stop writes the sum here.
    virtual void StopEnded(const std::vector<ActionRecord>& /*records*/) noexcept {}
};

// Keeps nothing: for tools that drive the supervision without a platform log.
class NoActionLog final : public ActionLog {
public:
    void Record(const ActionRecord&) noexcept override {}
};

} // namespace ostrivan
