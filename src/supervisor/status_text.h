#pragma once

namespace ostrivan::status {

inline constexpr const char* kLoading = "Loading";
inline constexpr const char* kRunning = "Ostrivan Monitoring Service Running";
inline constexpr const char* kPaused = "Configuration Service Paused";
inline constexpr const char* kStopping = "Ostrivan Monitoring Service Stopping";
inline constexpr const char* kStopped = "Configuration Service Stopped";
inline constexpr const char* kControlSignal = " Control signal ";

} // namespace ostrivan::status
