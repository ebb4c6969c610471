#pragma once

#include "platform/path_security.h"

namespace ostrivan::posix {

// From the mode and owner: the group or every account when the mode lets them write, and
// an owner other than root and the account the service runs as.
class PosixPathSecurity final : public PathSecurity {
public:
    std::optional<LooseWriters> CheckWriters(const std::string& path) override;
};

} // namespace ostrivan::posix
