#include "standin_clock.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace standin {
namespace {

// The factor after 'x' in libfaketime's FAKETIME, 1 without one.
double Speed() {
    const char* faketime = std::getenv("FAKETIME");
    const char* factor = faketime != nullptr ? std::strchr(faketime, 'x') : nullptr;
    if (factor == nullptr) {
        return 1.0;
    }
    const double speed = std::strtod(factor + 1, nullptr);
    return speed > 0.0 ? speed : 1.0;
}

} // namespace

std::uint64_t RealMilliseconds(std::uint64_t suiteMilliseconds) {
    return static_cast<std::uint64_t>(
        std::llround(static_cast<double>(suiteMilliseconds) / Speed()));
}

} // namespace standin
