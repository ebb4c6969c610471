#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace ostrivan::suite {

// Programs of the suite, each found in the service's own folder.
inline constexpr std::string_view kAlerts = "o-alerts.exe";
inline constexpr std::string_view kGraphs = "o-graphs.exe";
inline constexpr std::string_view kTrapReceiver = "vantorelle_snmptrap.exe";
inline constexpr std::string_view kManager = "vantorelle_manager.exe";
inline constexpr std::string_view kWatcher = "vantorelle_watcher.exe";
inline constexpr std::string_view kWatcherArguments = "900";
// The five, in the order the start launches them.
inline constexpr std::array<std::string_view, 5> kLaunchedPrograms = {
    kAlerts, kGraphs, kTrapReceiver, kManager, kWatcher};

// Stale side programs terminated before the watcher is launched again.
inline constexpr std::array<std::string_view, 8> kStartupKillList = {"skype.exe",
                                                                     "skypepm.exe",
                                                                     "klaxo_voicephon",
                                                                     "klaxo_voicephone.exe",
                                                                     "vantorelle_watcher.exe",
                                                                     "vantorelle_watc",
                                                                     "security_check.",
                                                                     "security_check.exe"};

// Short-lived tools, terminated one sweep after they were seen.
inline constexpr std::string_view kShortKillList = "klaxo_msn.exe,rrdtool.exe";

inline constexpr std::string_view kCheckSuffix = "_check.exe";
inline constexpr std::string_view kExcludedWord = "security";

// A manager whose working set grows past this is restarted.
inline constexpr std::uint64_t kManagerCeiling = 262'144'000;

} // namespace ostrivan::suite
