#include "platform/windows/event_log.h"

namespace ostrivan::windows {

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
