#include "call_log.h"

#include <algorithm>

namespace ostrivan::fakes {

std::vector<std::string> CallLog::Only(std::initializer_list<std::string_view> prefixes) const {
    std::vector<std::string> selected;
    for (const auto& entry : entries_) {
        const bool wanted = std::any_of(prefixes.begin(), prefixes.end(), [&](std::string_view p) {
            return std::string_view(entry).substr(0, p.size()) == p;
        });
        if (wanted) {
            selected.push_back(entry);
        }
    }
    return selected;
}

std::size_t CallLog::IndexOf(std::string_view entry) const {
    const auto it = std::find(entries_.begin(), entries_.end(), entry);
    return it == entries_.end() ? npos : static_cast<std::size_t>(it - entries_.begin());
}

std::size_t CallLog::Count(std::string_view entry) const {
    return static_cast<std::size_t>(std::count(entries_.begin(), entries_.end(), entry));
}

} // namespace ostrivan::fakes
