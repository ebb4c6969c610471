#pragma once

#include "platform/process_api.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrivan {

// One running process as one snapshot saw it.
struct ProcessEntry {
    std::uint32_t ProcessId = 0;
    std::string Name; // normalized image name
};

// The whole process table in the platform's order; empty when no snapshot can be taken.
std::vector<ProcessEntry> TakeProcessSnapshot(ProcessApi& api);
// The same, but nothing when no snapshot can be taken: a table that lists no process at all
// (not even this one) was not taken.
std::optional<std::vector<ProcessEntry>> TryTakeProcessSnapshot(ProcessApi& api);

// Cut before the first NUL, lower-cased.
std::string NormalizeImageName(std::string_view raw);

// True when `name` ends with the lower-cased `target`.
bool MatchImageName(std::string_view name, std::string_view target);

} // namespace ostrivan
