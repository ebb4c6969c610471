#pragma once

#include "platform/handles.h"
#include "platform/process_api.h"
#include "process/process_snapshot.h"

#include <optional>
#include <string>

namespace ostrivan {

// A process asked to end, its handle kept open so that waiting for its end waits for that
// process and no other.
struct AskedProcess {
    std::string name;
    ProcessId id = 0;
    ProcessHandle handle;
};

// Asks the process of a snapshot's row to end on its own, through the handle on which it has
// just been found still to carry the row's name. Nothing when it cannot be opened, is
// another process by now, or cannot be asked (no window to close on Windows). Raises nothing
// but running out of memory.
std::optional<AskedProcess> AskToEnd(ProcessApi& api, const ProcessEntry& row);

} // namespace ostrivan
