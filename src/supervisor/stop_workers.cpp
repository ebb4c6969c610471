#include "supervisor/supervisor.h"

#include "platform/stop_timing.h"
#include "process/ask_to_end.h"
#include "supervisor/status_text.h"
#include "supervisor/suite_programs.h"

#include <algorithm>
#include <array>
#include <exception>
#include <string_view>
#include <vector>

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

// The waits come in slices, so that the service manager hears of the stop at least once a
// second while the grace period runs.
constexpr std::int64_t kWaitSliceMs = 1000;
// Twice the slices the grace period holds, and one more for each end that cuts a slice short:
// a wait that returns early cannot spin for ever.
constexpr std::size_t kMostSlices = 2 * (kStopGraceMs / kWaitSliceMs) + 2;

bool IsLaunchedProgram(const std::string& name) {
    return std::find(suite::kLaunchedPrograms.begin(), suite::kLaunchedPrograms.end(), name) !=
           suite::kLaunchedPrograms.end();
}

} // namespace

void Supervisor::StopWorkers(const StopProgress& progress) {
    runtime_.SetStatusText(status::kStopped);
    // From here on the form no longer refuses to unload, whoever asks.
    state_.IsStopping = true;
    std::vector<ActionRecord> records;
    AskSuiteToEnd(progress, records);
    for (const auto name : kShutdownList) {
        const auto ended = KillAppRecorded(name, ActionReason::ShutdownList);
        records.insert(records.end(), ended.begin(), ended.end());
    }
    log_.StopEnded(records);
    runtime_.UnloadForm();
}

void Supervisor::AskSuiteToEnd(const StopProgress& progress, std::vector<ActionRecord>& records) {
    // Whatever fails here, the shutdown list still ends what runs.
    try {
        std::vector<AskedProcess> asked;
        for (const auto& row : TakeProcessSnapshot(process_)) {
            if (!IsLaunchedProgram(row.Name)) {
                continue;
            }
            if (auto one = AskToEnd(process_, row)) {
                records.push_back(
                    Record(Action::AskedToEnd, ActionReason::StopRequest, one->name, one->id));
                asked.push_back(std::move(*one));
            }
        }
        if (asked.empty()) {
            return;
        }
        AwaitEnds(asked, runtime_.MonotonicNow() + kStopGraceMs, progress, records);
        if (progress) {
            progress(kStopListMs);
        }
    } catch (const std::exception&) {
    }
}

void Supervisor::AwaitEnds(std::vector<AskedProcess>& asked, std::int64_t deadline,
                           const StopProgress& progress, std::vector<ActionRecord>& records) {
    // Each end is recorded within a slice of it; one that cannot be waited on is left to the
    // list.
    const auto ended = [&](const AskedProcess& one) {
        const std::uint32_t result = process_.WaitForSingleObject(one.handle.Get(), 0);
        if (result == kWaitObject0) {
            records.push_back(
                Record(Action::EndedWhenAsked, ActionReason::StopRequest, one.name, one.id));
        }
        return result != kWaitTimeout;
    };
    const std::size_t slices = kMostSlices + asked.size();
    for (std::size_t slice = 0; slice < slices; ++slice) {
        std::erase_if(asked, ended);
        const std::int64_t left = deadline - runtime_.MonotonicNow();
        if (asked.empty() || left <= 0) {
            return;
        }
        const auto wait = static_cast<std::uint32_t>(std::min(left, kWaitSliceMs));
        if (process_.WaitForSingleObject(asked.front().handle.Get(), wait) == kWaitTimeout &&
            left > wait && progress) {
            progress(static_cast<std::uint32_t>(left - wait) + kStopListMs);
        }
    }
}

} // namespace ostrivan
