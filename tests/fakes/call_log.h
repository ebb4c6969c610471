#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace ostrivan::fakes {

// One ordered record of the calls the simulated platform received, shared by the host,
// the runtime and the process calls so that tests can assert their order. Entries read
// "host.WriteEvent 109 1 [5] text", "runtime.SetStatusText Loading",
// "api.TerminateProcess 1000 0".
class CallLog {
public:
    void Add(std::string entry) { entries_.push_back(std::move(entry)); }
    const std::vector<std::string>& Entries() const { return entries_; }

    // The entries that start with one of the prefixes, in order.
    std::vector<std::string> Only(std::initializer_list<std::string_view> prefixes) const;
    // Position of the first entry equal to `entry`; npos when there is none.
    std::size_t IndexOf(std::string_view entry) const;
    std::size_t Count(std::string_view entry) const;

    void Clear() { entries_.clear(); }

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

private:
    std::vector<std::string> entries_;
};

} // namespace ostrivan::fakes
