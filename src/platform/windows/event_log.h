#pragma once

#include "platform/windows/win32.h"

#include <cstdint>
#include <string>

namespace ostrivan::windows {

inline constexpr const wchar_t* kEventSource = L"Ostrivan";

// Event ids of the message table that the platform writes on its own.
inline constexpr std::int32_t kEventErrorReport = 1;
inline constexpr std::int32_t kEventUnseenMessageBox = 2;
inline constexpr std::int32_t kEventLoosePermissions = 3;
inline constexpr std::int32_t kEventOutsideJob = 4;
inline constexpr std::int32_t kEventManagerRelaunched = 5;
inline constexpr std::int32_t kEventOverdueCheckEnded = 6;
inline constexpr std::int32_t kEventTerminationRefused = 7;
inline constexpr std::int32_t kEventShortLivedTools = 8;
inline constexpr std::int32_t kEventStopSummary = 9;
inline constexpr std::int16_t kEventKindError = EVENTLOG_ERROR_TYPE;
inline constexpr std::int16_t kEventKindWarning = EVENTLOG_WARNING_TYPE;
inline constexpr std::int16_t kEventKindInformation = EVENTLOG_INFORMATION_TYPE;

// The event type an entry the form writes with this kind and id is stored at, by its level.
std::int16_t EventType(std::int16_t kind, std::int32_t id);

// The system event log under the source "Ostrivan". Used on the form's thread only.
class EventLog {
public:
    // Writes one entry with the kind and id exactly as given; false with the system's error
    // left for GetLastError when it cannot.
    bool Write(std::int16_t kind, std::int32_t id, const std::string& text);

private:
    EventSourceHandle source_;
};

} // namespace ostrivan::windows
