#pragma once

#include "platform/posix/unique_fd.h"

#include <cstdint>

namespace ostrivan::posix {

// A periodic timer on CLOCK_MONOTONIC, readable when it has fired.
class IntervalTimer {
public:
    IntervalTimer();

    // Fires every `milliseconds` from now on; 0 stops it.
    void Start(std::uint32_t milliseconds);
    void Stop();
    // Takes every expiration that has piled up since the last call; true when there was
    // at least one. A late reader therefore sees one tick, not a burst.
    bool Consume();

    int Fd() const { return fd_.Get(); }
    bool Valid() const { return fd_.Valid(); }

private:
    UniqueFd fd_;
};

} // namespace ostrivan::posix
