#pragma once

#include <string>
#include <string_view>

namespace ostrivan::posix {

// Writes all of `data` to `fd`, again after an interruption. Returns 0 or the errno value.
int WriteAll(int fd, std::string_view data);

// Creates `path` with `content`; fails when it already exists. On failure nothing is left
// behind. Returns 0 or the errno value.
int CreateNewFile(const std::string& path, std::string_view content);

// Replaces `path` with `content` in one step, through a file of a name of its own beside it
// (readable by all) that is renamed over it. Returns 0 or the errno value. A file that need not
// survive a crash of the machine
// (`durable` false) is not waited for on its way to the disk.
int ReplaceFile(const std::string& path, std::string_view content, bool durable = true);

} // namespace ostrivan::posix
