#pragma once

#include "platform/action_log.h"

#include <string>
#include <string_view>

namespace ostrivan {

// A short fixed name of the reason, for fields that queries select on, and the one spelling
// the journal, the status file and the metrics share: "manager_ended".
std::string_view ReasonName(ActionReason reason);

// The reason in words, with its figures: "the manager had ended with exit code 3".
std::string ReasonText(const ActionRecord& record);

// The whole record on one line, the reason last:
// "terminated rrdtool.exe (pid 812, exit code 0): short-lived tool seen by the last sweep".
std::string ActionText(const ActionRecord& record);

} // namespace ostrivan
