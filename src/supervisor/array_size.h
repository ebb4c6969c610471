#pragma once

#include <cstdint>
#include <vector>

namespace ostrivan {

// The element count of a list; 0 for a list without storage or for anything else.
template <class T> std::int32_t ArraySize(const std::vector<T>& list) noexcept {
    return static_cast<std::int32_t>(list.size());
}

template <class T> std::int32_t ArraySize(const T&) noexcept {
    return 0;
}

} // namespace ostrivan
