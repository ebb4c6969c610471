#include "platform/posix/event_log.h"

#include "platform/event_level.h"

#include <syslog.h>

namespace ostrivan::posix {
int SyslogPriority(std::int16_t kind, std::int32_t id) {
    switch (EventLevelOf(kind, id)) {
    case EventLevel::Error:
        return LOG_ERR;
    case EventLevel::Warning:
        return LOG_WARNING;
    case EventLevel::Information:
        break;
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
    ::syslog(SyslogPriority(kind, id), "[%d] %s", static_cast<int>(id), line.c_str());
    console_.Log("event " + std::to_string(id) + " (kind " + std::to_string(kind) + "): " + line);
}

} // namespace ostrivan::posix
