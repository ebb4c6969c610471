#include "supervisor/supervisor.h"

#include "supervisor/status_text.h"

#include <array>
#include <string_view>

namespace ostrivan {
namespace {

// Every program of the suite and the side programs, in the order they are terminated.
// The 15-character entries catch image names that some systems report cut to that length.
constexpr std::array<std::string_view, 20> kShutdownList = {"o-alerts.exe",
                                                            "o-graphs.exe",
                                                            "vantorelle_manager.exe",
                                                            "vantorelle_rule.exe",
                                                            "vantorelle_thread2.exe",
                                                            "vantorelle_snmptrap.exe",
                                                            "vantorelle_security.exe",
                                                            "vantorelle_watcher.exe",
                                                            "vantorelle_mana",
                                                            "vantorelle_thre",
                                                            "vantorelle_watc",
                                                            "vantorelle_snmp",
                                                            "vantorelle_rule",
                                                            "vantorelle_watc",
                                                            "skype.exe",
                                                            "skypepm.exe",
                                                            "klaxo_voicephon",
                                                            "klaxo_voicephone.exe",
                                                            "security_check.",
                                                            "security_check.exe"};

} // namespace

void Supervisor::StopWorkers() {
    runtime_.SetStatusText(status::kStopped);
    // From here on the form no longer refuses to unload, whoever asks.
    state_.IsStopping = true;
    for (const auto name : kShutdownList) {
        KillAppRecorded(name, ActionReason::ShutdownList);
    }
    runtime_.UnloadForm();
}

} // namespace ostrivan
