#pragma once

#include "platform/windows/win32.h"

namespace ostrivan::windows {

// For a process that ends before its form exists. Started by the service manager, it tells
// the manager that the service stopped at once with `error` instead of leaving it waiting
// for a start that never comes; started by hand, there is no one to tell and it returns at
// once.
void RefuseServiceStart(DWORD error);

} // namespace ostrivan::windows
