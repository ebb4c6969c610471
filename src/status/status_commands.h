#pragma once

#include "platform/process_api.h"
#include "platform/status_platform.h"

#include <string>
#include <string_view>
#include <vector>

namespace ostrivan {

// The commands that work on the status file alone. The program's entry runs them before
// any of the service's own machinery is built: they need none of it, and none of their
// failures can take a path of the service.
//   -status    prints the table; the LSB status exit code (0 running, 3 not, 4 unknown)
//   -check     prints the monitoring plugin's line; exit code 0 to 3 (3 for anything it
//              cannot judge, a stray argument included)
//   -stopped   once the service's process has ended, however it ended, rewrites the status
//              and metrics as stopped (systemd runs it after every end of the unit)
bool IsStatusCommand(const std::vector<std::string>& words);
int RunStatusCommand(const std::vector<std::string>& words, StatusPlatform& platform,
                     ProcessApi& api) noexcept;

// The words of an argument text, split at blanks: a shell's redirection leaves a blank
// before its ">" ("-status ").
std::vector<std::string> ArgumentWords(std::string_view text);

} // namespace ostrivan
