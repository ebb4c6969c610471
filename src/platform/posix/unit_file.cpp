#include "platform/posix/unit_file.h"

#include "platform/posix/self_executable.h"
#include "platform/stop_timing.h"

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

// The restrictions close with ProtectSystem, then ReadWritePaths for the suite's folder.
constexpr const char* kRestrictions =
    "# Restrictions. The suite keeps the network (TCP, UDP, raw ICMP), ports below 1024, its\n"
    "# own folder writable, every process's /proc entries and the right to end any process.\n"
    "# Left open on purpose: /proc (the sweep reads every process), /tmp and /home (shared\n"
    "# with other software), writable code (programs with JIT compilers).\n"
    "# No program of the suite tunes the kernel, loads modules or reads the kernel log.\n"
    "ProtectKernelTunables=yes\n"
    "ProtectKernelModules=yes\n"
    "ProtectKernelLogs=yes\n"
    "# systemd tracks the suite in the unit's control group; nothing in it writes cgroups.\n"
    "ProtectControlGroups=yes\n"
    "# Monitoring reads the clock and the host name; it never sets them.\n"
    "ProtectClock=yes\n"
    "ProtectHostname=yes\n"
    "# No real-time scheduling, set-user-id files or foreign personalities in a monitor.\n"
    "RestrictRealtime=yes\n"
    "RestrictSUIDSGID=yes\n"
    "LockPersonality=yes\n"
    "# The suite's programs are built for this machine's own architecture.\n"
    "SystemCallArchitectures=native\n"
    "# Monitoring creates no namespaces and mounts nothing.\n"
    "RestrictNamespaces=yes\n"
    "PrivateMounts=yes\n"
    "# No hardware devices: the suite measures through /proc, /sys and the network.\n"
    "PrivateDevices=yes\n"
    "# Run as root already, the suite gains nothing from set-user-id programs.\n"
    "NoNewPrivileges=yes\n"
    "# Local, internet (TCP, UDP, ICMP) and netlink (address lookups) sockets; no capture.\n"
    "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK\n"
    "# Kept: ending any process and reading its /proc entries (KILL, SYS_PTRACE), raw ICMP\n"
    "# and ports below 1024 (NET_RAW, NET_BIND_SERVICE), root's access to files (DAC_*,\n"
    "# FOWNER, CHOWN) and dropping to another account (SETUID, SETGID).\n"
    "CapabilityBoundingSet=CAP_KILL CAP_SYS_PTRACE CAP_NET_RAW CAP_NET_BIND_SERVICE "
    "CAP_DAC_OVERRIDE CAP_DAC_READ_SEARCH CAP_FOWNER CAP_CHOWN CAP_SETUID CAP_SETGID\n"
    "# Calls no monitoring program makes. A filtered call fails with EPERM; it does not kill.\n"
    "SystemCallFilter=~@clock @cpu-emulation @debug @module @mount @obsolete @raw-io @reboot "
    "@swap\n"
    "SystemCallErrorNumber=EPERM\n";

// /usr, /boot and /etc read-only, the suite's folder writable even where it lies among them.
// A folder that no ReadWritePaths word can name (a control character in it) is left as it
// is, without ProtectSystem, rather than made read-only.
std::string ReadOnlySystemBut(std::string_view folder) {
    const auto word = PathListWord(folder.empty() ? "/" : folder);
    if (!word) {
        return "";
    }
    return "# /usr, /boot and /etc read-only; the suite's own folder stays writable.\n"
           "ProtectSystem=full\n"
           "ReadWritePaths=" +
           *word + "\n";
}

} // namespace

std::optional<std::string> PathListWord(std::string_view path) {
    std::string word = "\"";
    for (const char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return std::nullopt;
        }
        if (c == '"' || c == '\\') {
            word += '\\';
        }
        word += c == '%' ? "%%" : std::string(1, c);
    }
    return word + "\"";
}

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
    // After every end, a crash, a kill or the watchdog's abort included, the status and
    // metrics say stopped: a killed service writes nothing more itself. Its failure is
    // logged and fails nothing.
    text += "ExecStopPost=-" + ExecStartWord(executable) + " -stopped\n";
    // On a stop the service ends its suite by name itself; what is left of the unit once
    // it has exited (or crashed) is ended by systemd before a restart launches a new suite.
    text += "KillMode=mixed\n";
    // The stop asks the suite to end and waits for it, then terminates what is left; a stop
    // that needs longer says so (EXTEND_TIMEOUT_USEC).
    text += "TimeoutStopSec=" + std::to_string(kLongestStopMs / 1000) + "\n";
    text += "Restart=on-failure\n";
    text += "RestartSec=5\n";
    // The service's loop tells the watchdog it works at half the watchdog's time, running or
    // paused; a service that hangs (in a sweep, too) is ended (SIGABRT) and restarted within
    // two minutes.
    text += "WatchdogSec=120\n";
    // The status file and its metrics, in memory and readable by all; kept after a stop,
    // so that readers see the service stopped rather than no file at all.
    text += "RuntimeDirectory=ostrivan\n";
    text += "RuntimeDirectoryPreserve=yes\n";
    text += kRestrictions;
    text += ReadOnlySystemBut(FolderOf(executable));
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
