#pragma once

#include "platform/process_api.h"

#include <cstdint>
#include <optional>

namespace ostrivan {

// The identity of the process that carries `processId` now; nothing when it cannot be
// opened or asked. Never raises.
std::optional<ProcessIdentity> IdentifyProcess(ProcessApi& api, ProcessId processId);

// True when `identity.id` still names the process that `identity` recorded.
bool StillSameProcess(ProcessApi& api, const ProcessIdentity& identity);

// True when the open `process` is the one `identity` recorded. Whatever is done through
// that same handle afterwards reaches that process or none: a check on one handle and an
// action on another leave room for the id to be handed on in between.
bool IsProcess(ProcessApi& api, Handle process, const ProcessIdentity& identity);

} // namespace ostrivan
