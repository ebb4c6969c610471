#pragma once

#include "platform/form_runtime.h"
#include "platform/path_security.h"

#include <string>
#include <vector>

namespace ostrivan {

// One warning for each path that others than the administrators and the service may
// change: the service's folder, then every program it launches from there. Whoever can
// replace one of them can have a program run with the service's rights.
std::vector<std::string> LoosePermissionWarnings(FormRuntime& runtime, PathSecurity& security);

} // namespace ostrivan
