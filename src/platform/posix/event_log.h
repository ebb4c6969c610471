#pragma once

#include "platform/posix/console.h"

#include <cstdint>
#include <string>

namespace ostrivan::posix {

// The syslog priority of an event of the given Windows event type: the error bit reads as
// an error, the warning and audit-failure bits as a warning, anything else as information.
int SyslogPriority(std::int16_t kind);

// The system event log: syslog under the ident "Ostrivan", and one line on standard error.
class EventLog {
public:
    explicit EventLog(Console& console);
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;
    ~EventLog();

    void Write(std::int16_t kind, std::int32_t id, const std::string& text);

private:
    Console& console_;
};

} // namespace ostrivan::posix
