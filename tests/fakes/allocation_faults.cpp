#include "allocation_faults.h"

#include <cstdlib>
#include <new>

namespace ostrivan::fakes {
namespace {

std::size_t failSize = 0;
int failCountdown = 0;

} // namespace

void FailAllocationOfSize(std::size_t size, int nth) {
    failSize = size;
    failCountdown = nth;
}

void ClearAllocationFaults() {
    failCountdown = 0;
}

} // namespace ostrivan::fakes

void* operator new(std::size_t size) {
    using namespace ostrivan::fakes;
    if (failCountdown > 0 && size == failSize && --failCountdown == 0) {
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
