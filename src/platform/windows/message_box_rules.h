#pragma once

// What a message box answers when no one can see it. No OS header: tested on Linux too.

#include <cstdint>
#include <string>

namespace ostrivan::windows {

// The answer that changes least: OK for an OK box, No where there is a No, Cancel where
// there is a Cancel, Ignore for Abort/Retry/Ignore.
std::int32_t DefaultAnswer(std::int32_t style);

// The answer's button name, as the event log shows it.
std::string AnswerName(std::int32_t answer);

// The event log text of a box that was answered without being shown.
std::string UnseenBoxReport(const std::string& title, const std::string& text, std::int32_t answer);

} // namespace ostrivan::windows
