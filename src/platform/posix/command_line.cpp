#include "platform/posix/command_line.h"

#include <algorithm>

namespace ostrivan::posix {
namespace {

constexpr const char* kBlanks = " \t";

} // namespace

std::string ToPosixPath(std::string_view path) {
    std::string converted(path);
    std::replace(converted.begin(), converted.end(), '\\', '/');
    return converted;
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> words;
    std::size_t at = commandLine.find_first_not_of(kBlanks);
    if (at == std::string_view::npos) {
        return words;
    }
    if (commandLine[at] == '"') {
        const auto close = commandLine.find('"', at + 1);
        const auto end = close == std::string_view::npos ? commandLine.size() : close;
        words.emplace_back(commandLine.substr(at + 1, end - at - 1));
        at = close == std::string_view::npos ? commandLine.size() : close + 1;
    }
    while (at < commandLine.size()) {
        const auto start = commandLine.find_first_not_of(kBlanks, at);
        if (start == std::string_view::npos) {
            break;
        }
        const auto end = std::min(commandLine.find_first_of(kBlanks, start), commandLine.size());
        words.emplace_back(commandLine.substr(start, end - start));
        at = end;
    }
    return words;
}

std::string ArgumentText(const std::vector<std::string>& arguments) {
    std::string text;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const auto& argument = arguments[i];
        if (i > 0) {
            text += ' ';
        }
        if (argument.empty() || argument.find_first_of(" \t\"") != std::string::npos) {
            text += '"' + argument + '"';
        } else {
            text += argument;
        }
    }
    return text;
}

} // namespace ostrivan::posix
