#pragma once

#include "platform/form_runtime.h"

#include <cstdint>
#include <string>

namespace ostrivan {

inline constexpr std::int32_t kNormalFocus = 1;

// The folder of the service's executable, without a trailing separator.
std::string AppFolder(FormRuntime& runtime);

// Starts `programPath` with `arguments` (may be empty); the child's command line starts
// with the quoted program path. Returns the new process's identity; raises Failure when it
// cannot start.
ProcessIdentity Launch(FormRuntime& runtime, const std::string& programPath,
                       const std::string& arguments, std::int32_t windowStyle);

} // namespace ostrivan
