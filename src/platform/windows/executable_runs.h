#pragma once

#include <windows.h>

namespace ostrivan::windows {

// Waits at most `milliseconds` for every other process that runs this executable's own file
// to end, and answers whether they all did. A service reports that it has stopped a moment
// before its process ends; an installer that removes or replaces the file in that moment
// finds it in use and leaves it for the next restart of the system.
bool WaitForOtherRunsOfThisExecutable(DWORD milliseconds);

} // namespace ostrivan::windows
