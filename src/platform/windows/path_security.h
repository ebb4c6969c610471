#pragma once

#include "platform/path_security.h"

namespace ostrivan::windows {

// From the DACL: write, modify or take-ownership rights that Everyone, Users,
// Authenticated Users or Interactive hold on the path itself.
class WindowsPathSecurity final : public PathSecurity {
public:
    std::optional<LooseWriters> CheckWriters(const std::string& path) override;
};

} // namespace ostrivan::windows
