#include "platform/posix/unit_file.h"

#include <cstdio>
#include <vector>

namespace ostrivan::posix {
namespace {

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        auto end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        lines.emplace_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

bool IsSectionHeader(std::string_view line) {
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

} // namespace

std::string ExecStartWord(std::string_view path) {
    std::string word = "\"";
    for (const char c : path) {
        switch (c) {
        case '"':
            word += "\\\"";
            break;
        case '\\':
            word += "\\\\";
            break;
        case '%':
            word += "%%";
            break;
        case '$':
            word += "$$";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
                word += escaped;
            } else {
                word += c;
            }
        }
    }
    return word + "\"";
}

std::string UnitFileText(std::string_view description, std::string_view executable) {
    std::string text;
    text += "[Unit]\n";
    text += "Description=" + std::string(description) + "\n";
    // A service that keeps failing stops being restarted: 5 starts in 10 minutes.
    text += "StartLimitIntervalSec=600\n";
    text += "StartLimitBurst=5\n";
    text += "\n";
    text += "[Service]\n";
    text += "Type=notify\n";
    text += "ExecStart=" + ExecStartWord(executable) + "\n";
    // On a stop the service ends its suite by name itself; what is left of the unit once
    // it has exited (or crashed) is ended by systemd before a restart launches a new suite.
    text += "KillMode=mixed\n";
    text += "Restart=on-failure\n";
    text += "RestartSec=5\n";
    text += "\n";
    text += "[Install]\n";
    text += "WantedBy=multi-user.target\n";
    return text;
}

std::string WithParameter(std::string_view existing, std::string_view section, std::string_view key,
                          std::string_view value) {
    auto lines = Lines(existing);
    const std::string header = "[" + std::string(section) + "]";
    const std::string assignment = std::string(key) + "=" + std::string(value);
    const std::string prefix = std::string(key) + "=";

    std::size_t at = 0;
    while (at < lines.size() && lines[at] != header) {
        ++at;
    }
    if (at == lines.size()) {
        if (!lines.empty() && !lines.back().empty()) {
            lines.emplace_back();
        }
        lines.push_back(header);
        lines.push_back(assignment);
    } else {
        std::size_t end = at + 1;
        while (end < lines.size() && !IsSectionHeader(lines[end])) {
            ++end;
        }
        std::size_t last = at; // the section's last assignment; blank lines stay after it
        bool replaced = false;
        for (std::size_t i = at + 1; i < end; ++i) {
            if (lines[i].starts_with(prefix)) {
                lines[i] = assignment;
                replaced = true;
                break;
            }
            if (!lines[i].empty()) {
                last = i;
            }
        }
        if (!replaced) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last + 1), assignment);
        }
    }

    std::string text;
    for (const auto& line : lines) {
        text += line + "\n";
    }
    return text;
}

} // namespace ostrivan::posix
