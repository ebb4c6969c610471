#pragma once

#include <cstdint>

namespace ostrivan {

// How long a stop of the service may take. The suite's programs are asked to end and given
// a grace period; then the shutdown list terminates what is left. The hosts tell their
// service manager to wait that long (a stop-pending wait hint, the pre-shutdown timeout,
// TimeoutStopSec=).
inline constexpr std::uint32_t kStopGraceMs = 10'000;
// The shutdown list after it: 20 snapshots of a busy process table and their terminations.
inline constexpr std::uint32_t kStopListMs = 20'000;
inline constexpr std::uint32_t kLongestStopMs = kStopGraceMs + kStopListMs;

} // namespace ostrivan
