#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <utility>

namespace ostrivan::posix {

// The exit codes that terminations asked for, which SIGKILL does not deliver. A process is
// named by its id and start time, so a code can never be found for a later process that
// took over the id; the oldest code is forgotten once `capacity` are kept. Nothing here
// reads /proc: a termination costs the same however many came before it.
class TerminationCodes {
public:
    using Identity = std::pair<pid_t, std::uint64_t>;

    explicit TerminationCodes(std::size_t capacity) : capacity_(capacity) {}

    void Remember(const Identity& process, std::uint32_t exitCode);
    std::optional<std::uint32_t> Find(const Identity& process) const;
    std::size_t Size() const { return codes_.size(); }

private:
    std::size_t capacity_;
    std::map<Identity, std::uint32_t> codes_;
    std::deque<Identity> order_;
};

} // namespace ostrivan::posix
