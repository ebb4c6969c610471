#pragma once

// Text rules of the Windows platform that need no OS header, so that the Linux build can
// test them too.

#include <string>
#include <string_view>

namespace ostrivan::windows {

// Everything after the program name of a Windows command line and the blanks that follow
// it. The program name is read as the system reads it: up to the closing quote when it
// starts with one, else up to the first blank.
std::wstring ArgumentText(std::wstring_view commandLine);

// The folder part of a path, without a trailing separator; empty when there is none.
std::wstring FolderOf(std::wstring_view path);

// The path in double quotes, so that the service manager never has to guess where a path
// with blanks ends. A path that is quoted already is returned as it is.
std::wstring QuotedPath(std::wstring_view path);

// The last component of a path.
std::string BaseName(std::string_view path);

} // namespace ostrivan::windows
