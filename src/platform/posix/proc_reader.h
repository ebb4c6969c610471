#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace ostrivan::posix {

// The whole content of a small file such as one under /proc; nothing when it cannot be read.
std::optional<std::string> ReadSmallFile(const std::string& path);

// The target of a symbolic link; nothing when it cannot be read.
std::optional<std::string> ReadLink(const std::string& path);

// "/proc/PID/" + leaf.
std::string ProcPath(pid_t pid, const char* leaf);

// The image name of a process: the base name of its executable where that can be read
// (other users' processes and kernel threads hide it), else its command name.
std::optional<std::string> ImageNameOf(pid_t pid);

} // namespace ostrivan::posix
