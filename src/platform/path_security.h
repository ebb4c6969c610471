#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ostrivan {

// A file or folder that accounts other than the administrators' and the service's own
// may change.
struct LooseWriters {
    std::string path;                  // as the platform names it
    std::vector<std::string> accounts; // who may change it, by name
};

// Who may change the files the service runs with its own rights.
class PathSecurity {
public:
    virtual ~PathSecurity() = default;
    // `path` is written the way the service builds program paths (folder, `\`, name).
    // Nothing when only the administrators and the service's own account may write,
    // modify or take over the path, or when its permissions cannot be read. Never raises.
    virtual std::optional<LooseWriters> CheckWriters(const std::string& path) = 0;
};

} // namespace ostrivan
