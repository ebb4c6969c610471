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

} // namespace

void Supervisor::StartWorkers(HostFlag& success) {
    runtime_.SetStatusText(status::kRunning);
    success = kHostTrue;

    // A program that cannot be started is shown to whoever sits at the console and ends
    // the sequence; the start itself stays reported as successful.
    try {
        ActionRecord startUp;
        startUp.reason = ActionReason::StartUp;
        LaunchRecorded(suite::kAlerts, {}, startUp);
        LaunchRecorded(suite::kGraphs, {}, startUp);
        LaunchRecorded(suite::kTrapReceiver, {}, startUp);
        KeepManagerAlive();
        for (const auto name : suite::kStartupKillList) {
            KillAppRecorded(name, ActionReason::StartupList);
        }
        LaunchRecorded(suite::kWatcher, suite::kWatcherArguments, startUp);
    } catch (const Failure& failure) {
        ShowShellingError(runtime_, failure);
    } catch (const std::bad_alloc&) {
        // Any error of this stage takes the same way, running out of memory included.
        ShowShellingError(runtime_, OutOfMemoryFailure());
    }
}

} // namespace ostrivan
