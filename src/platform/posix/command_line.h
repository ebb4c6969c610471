#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrivan::posix {

// A program path written the Windows way, with `\` between folders, as a path here.
std::string ToPosixPath(std::string_view path);

// The words of a command line as a program's argument vector: the first word is the
// program path, in double quotes when it holds blanks; the rest are arguments separated by
// blanks, taken as they stand.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The argument text of this process: its arguments joined by single blanks, an argument
// that is empty or holds a blank or quote given in double quotes, so that no two argument
// vectors read as the same text.
std::string ArgumentText(const std::vector<std::string>& arguments);

} // namespace ostrivan::posix
