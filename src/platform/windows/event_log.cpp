#include "platform/windows/event_log.h"

#include "platform/event_level.h"

namespace ostrivan::windows {

std::int16_t EventType(std::int16_t kind, std::int32_t id) {
    switch (EventLevelOf(kind, id)) {
    case EventLevel::Error:
        return EVENTLOG_ERROR_TYPE;
    case EventLevel::Warning:
        return EVENTLOG_WARNING_TYPE;
    case EventLevel::Information:
        break;
    }
    return EVENTLOG_INFORMATION_TYPE;
}

bool EventLog::Write(std::int16_t kind, std::int32_t id, const std::string& text) {
    if (!source_) {
        source_.Reset(::RegisterEventSourceW(nullptr, kEventSource));
        if (!source_) {
            return false;
        }
    }
    const std::wstring wide = Widen(text);
    const wchar_t* strings[] = {wide.c_str()};
    return ::ReportEventW(source_.Get(), static_cast<WORD>(kind), 0, static_cast<DWORD>(id),
                          nullptr, 1, 0, strings, nullptr) != FALSE;
}

} // namespace ostrivan::windows
