#pragma once

#include <optional>

namespace ostrivan::posix {

// CAP_KILL in the effective set of the calling thread: the right to signal processes of
// other users. Only a capability in the permitted set can be raised.
struct KillCapability {
    bool permitted = false;
    bool effective = false;
};

std::optional<KillCapability> ReadKillCapability();

// Raises or drops CAP_KILL in the effective set. Raising a capability that is not
// permitted leaves it dropped and still succeeds, as a privilege that was not granted.
// False only when the capability sets cannot be read or written.
bool SetKillCapability(bool effective);

} // namespace ostrivan::posix
