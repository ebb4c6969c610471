#pragma once

#include "platform/form_runtime.h"

#include <string>
#include <string_view>

namespace ostrivan {

// The full path of a suite program in the service's own folder.
std::string SuiteProgramPath(FormRuntime& runtime, std::string_view program);
// The same, for a folder already read.
std::string SuiteProgramPath(std::string_view folder, std::string_view program);

} // namespace ostrivan
