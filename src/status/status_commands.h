#pragma once

#include "platform/process_api.h"
#include "platform/status_platform.h"

namespace ostrivan {

// "-status": prints the table; returns its LSB exit code.
int ShowStatus(StatusPlatform& platform, ProcessApi& api);
// "-check": prints the monitoring-plugin line; returns its exit code.
int RunCheck(StatusPlatform& platform, ProcessApi& api);

} // namespace ostrivan
