#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ostrivan::posix {

// The absolute path of the running executable, from /proc/self/exe.
std::optional<std::string> ExecutablePath();

// The folder part of a path, without a trailing separator ("" for a file in /).
std::string FolderOf(std::string_view path);

} // namespace ostrivan::posix
