#pragma once

#include "platform/action_log.h"
#include "platform/posix/console.h"

#include <string_view>

namespace ostrivan::posix {

// The journal's message ids, one per kind of action; a relaunch of the manager has its own.
namespace message_id {
inline constexpr std::string_view kLaunched = "de4f75250609491f8cb9d2ab3fa67936";
inline constexpr std::string_view kManagerRelaunched = "5671f2af7e794f05817423a701fabbc6";
inline constexpr std::string_view kTerminated = "cbcbc2df78684db4b4f1cd20ea53e0e2";
inline constexpr std::string_view kTerminationRefused = "d907caf2921142fba292322d4778cd75";
inline constexpr std::string_view kAlreadyGone = "b3fcaec3e88e41b6a58f837138f40daf";
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

private:
    bool Send(const ActionRecord& record, const std::string& text);

    Console& console_;
    bool journal_;
};

} // namespace ostrivan::posix
