#pragma once

#include <cstdint>

namespace standin {

// Milliseconds of the suite's clock in real milliseconds. The stand-in is linked statically,
// so libfaketime is never loaded into it: a process the service or a test kills must not hold
// the library's semaphore, which every process of a sped-up run shares and which stays taken
// when its holder dies. It reads the run's speed from FAKETIME ("+0 x2000"), as the library
// would, and waits that many times less, so that its orders keep the service's time.
std::uint64_t RealMilliseconds(std::uint64_t suiteMilliseconds);

} // namespace standin
