#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrivan::posix {

// The fields of /proc/PID/stat this platform reads.
struct ProcStat {
    char state = '?';
    std::uint64_t startTime = 0; // clock ticks after boot
};

// Parses /proc/PID/stat. The command name in field 2 is free text (blanks, parentheses,
// newlines), so the fields are counted from the last ')' on.
std::optional<ProcStat> ParseProcStat(std::string_view text);

// The value of a "Name:  123 kB" line of /proc/PID/status, in bytes.
std::optional<std::uint64_t> ParseStatusKilobytes(std::string_view text, std::string_view name);

// The base name of an image path read from /proc/PID/exe, without the " (deleted)" mark
// the kernel appends once the file is gone.
std::string ImageBaseName(std::string_view exeLink);

// /proc/PID/comm without the newline the kernel ends it with.
std::string CommName(std::string_view commFile);

} // namespace ostrivan::posix
