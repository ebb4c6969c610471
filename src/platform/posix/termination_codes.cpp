#include "platform/posix/termination_codes.h"

namespace ostrivan::posix {

void TerminationCodes::Remember(const Identity& process, std::uint32_t exitCode) {
    if (capacity_ == 0) {
        return;
    }
    const auto [entry, added] = codes_.insert_or_assign(process, exitCode);
    if (!added) {
        return;
    }
    order_.push_back(process);
    if (order_.size() > capacity_) {
        codes_.erase(order_.front());
        order_.pop_front();
    }
}

std::optional<std::uint32_t> TerminationCodes::Find(const Identity& process) const {
    const auto found = codes_.find(process);
    if (found == codes_.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace ostrivan::posix
