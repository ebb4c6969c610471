#include "platform/windows/command_text.h"

namespace ostrivan::windows {
namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}
bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

} // namespace

std::wstring ArgumentText(std::wstring_view commandLine) {
    std::size_t at = 0;
    if (!commandLine.empty() && commandLine.front() == L'"') {
        const std::size_t closing = commandLine.find(L'"', 1);
        at = closing == std::wstring_view::npos ? commandLine.size() : closing + 1;
    }
    while (at < commandLine.size() && !IsBlank(commandLine[at])) {
        ++at;
    }
    while (at < commandLine.size() && IsBlank(commandLine[at])) {
        ++at;
    }
    return std::wstring(commandLine.substr(at));
}

std::wstring FolderOf(std::wstring_view path) {
    std::size_t end = path.size();
    while (end > 0 && !IsSeparator(path[end - 1])) {
        --end;
    }
    while (end > 0 && IsSeparator(path[end - 1])) {
        --end;
    }
    return std::wstring(path.substr(0, end));
}

std::wstring QuotedPath(std::wstring_view path) {
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') {
        return std::wstring(path);
    }
    return L"\"" + std::wstring(path) + L"\"";
}

std::string BaseName(std::string_view path) {
    const std::size_t separator = path.find_last_of("\\/");
    return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}

} // namespace ostrivan::windows
