#include "supervisor/supervisor.h"

#include "platform/failure.h"
#include "supervisor/status_text.h"
#include "supervisor/suite_programs.h"

#include <new>

namespace ostrivan {
namespace {

constexpr const char* kShellingError = "Error Shelling file.\r\n";
constexpr const char* kShellingTitle = "Error";

void ShowShellingError(FormRuntime& runtime, const Failure& failure) {
    runtime.ShowMessageBox(kShellingError + failure.Description(), box::kExclamation,
                           std::string(kShellingTitle));
}

// Runs one launch of the start: a failure is shown in a message box and ends only that launch.
template <class Step> void LaunchStep(FormRuntime& runtime, Step&& step) {
    try {
        step();
    } catch (const Failure& failure) {
        ShowShellingError(runtime, failure);
    } catch (const std::bad_alloc&) {
        // Any error of a launch takes the same way, running out of memory included.
        ShowShellingError(runtime, OutOfMemoryFailure());
    }
}

} // namespace

void Supervisor::StartWorkers(HostFlag& success) {
    runtime_.SetStatusText(status::kRunning);
    success = kHostTrue;

    // A program that cannot be started is shown to whoever sits at the console; the rest of
    // the suite is started all the same, and the start itself stays reported as successful.
    ActionRecord startUp;
    startUp.reason = ActionReason::StartUp;
    LaunchStep(runtime_, [&] { LaunchRecorded(suite::kAlerts, {}, startUp); });
    LaunchStep(runtime_, [&] { LaunchRecorded(suite::kGraphs, {}, startUp); });
    LaunchStep(runtime_, [&] { LaunchRecorded(suite::kTrapReceiver, {}, startUp); });
    LaunchStep(runtime_, [&] { KeepManagerAlive(); });
    for (const auto name : suite::kStartupKillList) {
        KillAppRecorded(name, ActionReason::StartupList);
    }
    LaunchStep(runtime_,
               [&] { LaunchRecorded(suite::kWatcher, suite::kWatcherArguments, startUp); });
}

} // namespace ostrivan
