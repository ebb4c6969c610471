#include "platform/posix/kill_capability.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ostrivan::posix {
namespace {

constexpr unsigned kKillBit = 1U << CAP_KILL; // CAP_KILL lives in the first word

struct CapabilitySets {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
};

bool Read(CapabilitySets& sets) {
    return ::syscall(SYS_capget, &sets.header, sets.data) == 0;
}

} // namespace

std::optional<KillCapability> ReadKillCapability() {
    CapabilitySets sets;
    if (!Read(sets)) {
        return std::nullopt;
    }
    return KillCapability{(sets.data[0].permitted & kKillBit) != 0,
                          (sets.data[0].effective & kKillBit) != 0};
}

bool SetKillCapability(bool effective) {
    CapabilitySets sets;
    if (!Read(sets)) {
        return false;
    }
    const bool permitted = (sets.data[0].permitted & kKillBit) != 0;
    const bool now = (sets.data[0].effective & kKillBit) != 0;
    const bool wanted = effective && permitted;
    if (now == wanted) {
        return true;
    }
    if (wanted) {
        sets.data[0].effective |= kKillBit;
    } else {
        sets.data[0].effective &= ~kKillBit;
    }
    sets.header.pid = 0;
    return ::syscall(SYS_capset, &sets.header, sets.data) == 0;
}

} // namespace ostrivan::posix
