#pragma once

#include "status/status_report.h"

#include <optional>
#include <string>

namespace ostrivan {

std::string StatusJson(const StatusReport& report);

// Nothing when the text is not a status file of this version.
std::optional<StatusReport> ParseStatusJson(const std::string& text);

} // namespace ostrivan
