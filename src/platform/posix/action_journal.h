#pragma once

#include "platform/action_log.h"
#include "platform/posix/console.h"
#include "platform/stop_summary.h"

#include <string>
#include <string_view>
#include <vector>

namespace ostrivan::posix {

// The journal's message ids, one per kind of action; a relaunch of the manager has its own.
namespace message_id {
inline constexpr std::string_view kLaunched = "de4f75250609491f8cb9d2ab3fa67936";
inline constexpr std::string_view kManagerRelaunched = "5671f2af7e794f05817423a701fabbc6";
inline constexpr std::string_view kTerminated = "cbcbc2df78684db4b4f1cd20ea53e0e2";
inline constexpr std::string_view kTerminationRefused = "d907caf2921142fba292322d4778cd75";
inline constexpr std::string_view kAlreadyGone = "b3fcaec3e88e41b6a58f837138f40daf";
inline constexpr std::string_view kAskedToEnd = "936831965e764604872674bf87792088";
inline constexpr std::string_view kEndedWhenAsked = "3b71d265edbe4abb81d71a9b908f0ac8";
inline constexpr std::string_view kStopSummary = "63237c19f59f48fbb50e3d6ae4d08bb2";
} // namespace message_id

std::string_view MessageId(const ActionRecord& record);
// The syslog priority: notice for a relaunch, warning for a refused termination, else info.
int JournalPriority(const ActionRecord& record);

// The records of the service's actions: entries of the journal with their fields when
// standard error leads to the journal (the service runs under systemd), else one line each
// on the console.
class ActionJournal final : public ActionLog {
public:
    explicit ActionJournal(Console& console);

    void Record(const ActionRecord& record) noexcept override;
    // One entry that sums up the stop, with its counts in fields of their own.
    void StopEnded(const std::vector<ActionRecord>& records) noexcept override;

private:
    bool Send(const ActionRecord& record, const std::string& text);
    static bool SendFields(std::vector<std::string> fields);

    Console& console_;
    bool journal_;
};

} // namespace ostrivan::posix
