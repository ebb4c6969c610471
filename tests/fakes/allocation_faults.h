#pragma once

#include <cstddef>

namespace ostrivan::fakes {

// Makes the nth allocation of exactly `size` bytes from now on throw std::bad_alloc, as a
// machine out of memory would. Off until armed; disarms itself once it fired.
void FailAllocationOfSize(std::size_t size, int nth);
void ClearAllocationFaults();

} // namespace ostrivan::fakes
