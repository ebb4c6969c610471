#pragma once

#include "platform/posix/console.h"

#include <cstdint>
#include <string>

namespace ostrivan::posix {

// The syslog priority of an entry the form writes with this kind and id, by its level.
int SyslogPriority(std::int16_t kind, std::int32_t id);

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
