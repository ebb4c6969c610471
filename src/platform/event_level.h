#pragma once

#include <cstdint>

namespace ostrivan {

// The ids of the form's own entries, which the hosts know them by.
namespace event_id {
inline constexpr std::int32_t kErrorReport = 1;
inline constexpr std::int32_t kPaused = 109;
inline constexpr std::int32_t kContinued = 110;
} // namespace event_id

// What an event-log entry means to an administrator, who filters on it.
enum class EventLevel : std::uint8_t { Error, Warning, Information };

// The level of an entry the form writes through ServiceHost::WriteEvent, whose kind and id
// are the form's own and stay as written. Its entries are known by their ids: the error
// report (id 1) is an error whatever its kind, the pause and continue notices (ids 109 and
// 110) are information. Any other entry's kind is read as a Windows event type.
inline EventLevel EventLevelOf(std::int16_t kind, std::int32_t id) {
    constexpr std::uint16_t kErrorType = 0x1;
    constexpr std::uint16_t kWarningType = 0x2;
    constexpr std::uint16_t kAuditFailureType = 0x10;
    if (id == event_id::kErrorReport) {
        return EventLevel::Error;
    }
    if (id == event_id::kPaused || id == event_id::kContinued) {
        return EventLevel::Information;
    }
    const auto type = static_cast<std::uint16_t>(kind);
    if (type == kErrorType) {
        return EventLevel::Error;
    }
    if (type == kWarningType || type == kAuditFailureType) {
        return EventLevel::Warning;
    }
    return EventLevel::Information;
}

} // namespace ostrivan
