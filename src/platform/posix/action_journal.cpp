#include "platform/posix/action_journal.h"

#include "platform/action_text.h"

#define SD_JOURNAL_SUPPRESS_LOCATION
#include <sys/stat.h>
#include <sys/uio.h>
#include <syslog.h>
#include <systemd/sd-journal.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace ostrivan::posix {
namespace {

// systemd names the stream it connected standard error to in JOURNAL_STREAM ("dev:inode");
// a redirected standard error no longer matches it.
bool StandardErrorIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat status {};
    if (stream == nullptr || ::fstat(2, &status) != 0) {
        return false;
    }
    return std::string(stream) ==
           std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

std::string_view ActionName(Action action) {
    switch (action) {
    case Action::Launched:
        return "launched";
    case Action::Terminated:
        return "terminated";
    case Action::TerminationRefused:
        return "termination-refused";
    case Action::AlreadyGone:
        return "already-gone";
    case Action::AskedToEnd:
        return "asked-to-end";
    case Action::EndedWhenAsked:
        return "ended-when-asked";
    }
    return "unknown";
}

} // namespace

std::string_view MessageId(const ActionRecord& record) {
    switch (record.action) {
    case Action::Launched:
        return IsRelaunch(record) ? message_id::kManagerRelaunched : message_id::kLaunched;
    case Action::Terminated:
        return message_id::kTerminated;
    case Action::TerminationRefused:
        return message_id::kTerminationRefused;
    case Action::AlreadyGone:
        return message_id::kAlreadyGone;
    case Action::AskedToEnd:
        return message_id::kAskedToEnd;
    case Action::EndedWhenAsked:
        return message_id::kEndedWhenAsked;
    }
    return message_id::kTerminated;
}

int JournalPriority(const ActionRecord& record) {
    if (record.action == Action::TerminationRefused) {
        return LOG_WARNING;
    }
    return IsRelaunch(record) ? LOG_NOTICE : LOG_INFO;
}

ActionJournal::ActionJournal(Console& console)
    : console_(console), journal_(StandardErrorIsJournal()) {}

void ActionJournal::Record(const ActionRecord& record) noexcept {
    try {
        const std::string text = ActionText(record);
        if (!journal_ || !Send(record, text)) {
            console_.Log(text);
        }
    } catch (const std::exception&) {
        // A record that cannot be written is lost; the supervision goes on.
    }
}

void ActionJournal::StopEnded(const std::vector<ActionRecord>& records) noexcept {
    try {
        const StopSummary stop(records);
        const std::string text = stop.Text();
        const bool sent =
            journal_ &&
            SendFields({"MESSAGE=" + text, "MESSAGE_ID=" + std::string(message_id::kStopSummary),
                        "PRIORITY=" + std::to_string(LOG_INFO), "SYSLOG_IDENTIFIER=Ostrivan",
                        "OSTRIVAN_ASKED=" + std::to_string(stop.Asked()),
                        "OSTRIVAN_ENDED_IN_TIME=" + std::to_string(stop.EndedInTime()),
                        "OSTRIVAN_TERMINATED=" + std::to_string(stop.Terminated()),
                        "OSTRIVAN_REFUSED=" + std::to_string(stop.Refused())});
        if (!sent) {
            console_.Log(text);
        }
    } catch (const std::exception&) {
    }
}

bool ActionJournal::Send(const ActionRecord& record, const std::string& text) {
    std::vector<std::string> fields = {
        "MESSAGE=" + text,
        "MESSAGE_ID=" + std::string(MessageId(record)),
        "PRIORITY=" + std::to_string(JournalPriority(record)),
        "SYSLOG_IDENTIFIER=Ostrivan",
        "OSTRIVAN_ACTION=" + std::string(ActionName(record.action)),
        "OSTRIVAN_REASON=" + std::string(ReasonName(record.reason)),
        "OSTRIVAN_PROGRAM=" + record.program,
        "OSTRIVAN_PROGRAM_PID=" + std::to_string(record.pid),
    };
    if (record.reason == ActionReason::ManagerEnded && !record.exitSignal.empty()) {
        fields.push_back("OSTRIVAN_EXIT_SIGNAL=" + record.exitSignal);
    } else if (record.reason == ActionReason::ManagerEnded && record.exitCodeKnown) {
        fields.push_back("OSTRIVAN_EXIT_CODE=" + std::to_string(record.exitCode));
    }
    if (record.reason == ActionReason::ManagerOverCeiling) {
        fields.push_back("OSTRIVAN_WORKING_SET_BYTES=" + std::to_string(record.workingSet));
    }
    if (record.reason == ActionReason::OverdueCheck) {
        fields.push_back("OSTRIVAN_FIRST_SEEN_UTC=" + std::to_string(record.firstSeenUtc));
    }
    return SendFields(std::move(fields));
}

bool ActionJournal::SendFields(std::vector<std::string> fields) {
    std::vector<iovec> parts;
    for (auto& field : fields) {
        parts.push_back(iovec{field.data(), field.size()});
    }
    return ::sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) >= 0;
}

} // namespace ostrivan::posix
