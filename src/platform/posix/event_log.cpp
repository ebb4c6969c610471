#include "platform/posix/event_log.h"

#include <syslog.h>

namespace ostrivan::posix {
namespace {

constexpr unsigned kErrorType = 0x1;
constexpr unsigned kWarningType = 0x2;
constexpr unsigned kAuditFailureType = 0x10;

} // namespace

int SyslogPriority(std::int16_t kind) {
    const auto bits = static_cast<std::uint16_t>(kind);
    if (bits & kErrorType) {
        return LOG_ERR;
    }
    if (bits & (kWarningType | kAuditFailureType)) {
        return LOG_WARNING;
    }
    return LOG_INFO;
}

EventLog::EventLog(Console& console) : console_(console) {
    ::openlog("Ostrivan", LOG_PID, LOG_DAEMON);
}

EventLog::~EventLog() {
    ::closelog();
}

void EventLog::Write(std::int16_t kind, std::int32_t id, const std::string& text) {
    const std::string line = OneLine(text);
    ::syslog(SyslogPriority(kind), "[%d] %s", static_cast<int>(id), line.c_str());
    console_.Log("event " + std::to_string(id) + " (kind " + std::to_string(kind) + "): " + line);
}

} // namespace ostrivan::posix
