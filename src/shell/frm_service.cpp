#include "shell/frm_service.h"

#include "platform/event_level.h"
#include "supervisor/loose_permissions.h"
#include "supervisor/status_text.h"

#include <exception>
#include <new>
#include <optional>
#include <string>

namespace ostrivan {
namespace {

constexpr std::int16_t kErrorKind = 109;
constexpr std::int16_t kPausedKind = 1;
constexpr std::int16_t kContinuedKind = 4;
constexpr std::int16_t kWarningKind = 2;
constexpr std::int32_t kLoosePermissionsId = 3;

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitInvalidParameter = 2;

constexpr const char* kUnloadQuestion =
    "Are you sure you want to unload the service?...\r\nthe service will be stopped";
constexpr const char* kUnloadTitle = "Stop Service";

// Runs one handler's body; what it raised comes back as the failure to report, so the
// report is written outside the catch.
template <class Body> std::optional<Failure> Attempt(Body&& body) {
    try {
        body();
        return std::nullopt;
    } catch (const Failure& failure) {
        return failure;
    } catch (const std::bad_alloc&) {
        return OutOfMemoryFailure();
    }
}

} // namespace

void frmService::Load() {
    std::optional<std::string> argumentsRead;
    const auto failure = Attempt([&] {
        SupervisorState& state = supervisor_.State();
        state.CheckTable.assign(1, CheckRecord{});
        state.IsStopping = false;
        const std::string arguments = runtime_.CommandLineArguments();
        argumentsRead = arguments;
        runtime_.SetStatusText(status::kLoading);

        if (arguments == "-install") {
            ReportLoosePermissions();
            NTService_.RegistrationOption(false);
            const bool registered = NTService_.Register();
            if (registered) {
                NTService_.SaveParameter("Parameters", "TimerInterval", "60000");
            }
            NTService_.Connect();
            // Installers and scripts read the exit code: a refused registration is no success.
            runtime_.End(registered ? kExitDone : kExitFailed);
            return;
        }
        if (arguments == "-remove") {
            runtime_.End(NTService_.Unregister() ? kExitDone : kExitFailed);
            return;
        }
        if (!arguments.empty()) {
            runtime_.ShowMessageBox("Invalid Parameter", box::kOkOnly, std::nullopt);
            runtime_.End(kExitInvalidParameter);
            return;
        }

        runtime_.SetTimerInterval(kTimerInterval);
        NTService_.AcceptedControls(kAcceptPauseContinue);
        NTService_.Connect();
    });
    if (failure) {
        ErrorReport(*failure);
        EndUnlessServiceRun(argumentsRead);
    }
}

void frmService::EndUnlessServiceRun(std::optional<std::string> arguments) {
    // A registration run or a refused argument never stays resident: an installer would
    // wait for it, and its timer would sweep and launch a manager beside the service's.
    try {
        if (!arguments) {
            arguments = runtime_.CommandLineArguments();
        }
        if (!arguments->empty()) {
            runtime_.End(kExitFailed);
        }
    } catch (const std::exception&) {
    }
}

void frmService::OnStart(HostFlag& success) {
    ReportLoosePermissions();
    if (const auto failure = Attempt([&] { supervisor_.StartWorkers(success); })) {
        ErrorReport(*failure);
    }
    // Running as the host will report it: a start whose first stage failed is none.
    if (success == kHostTrue) {
        PublishStatus(kStateRunning);
    }
}

void frmService::OnStop() {
    const auto progress = [this](std::uint32_t milliseconds) {
        NTService_.StopPending(milliseconds);
    };
    if (const auto failure = Attempt([&] { supervisor_.StopWorkers(progress); })) {
        // The process stays, and so do its sweeps: it has not stopped.
        ErrorReport(*failure);
        return;
    }
    PublishStatus(kStateStopped);
}

void frmService::OnPause(HostFlag& success) {
    bool paused = false;
    const auto failure = Attempt([&] {
        runtime_.SetTimerEnabled(false);
        paused = true;
        // The pause has taken effect once the timer is off: the host must show it paused
        // whatever becomes of the status line and the notice.
        success = kHostTrue;
        runtime_.SetStatusText(status::kPaused);
        NTService_.WriteEvent(kPausedKind, event_id::kPaused, "Service paused");
    });
    if (failure) {
        ErrorReport(*failure);
    }
    if (paused) {
        PublishStatus(kStatePaused);
    }
}

void frmService::OnContinue(HostFlag& success) {
    bool running = false;
    const auto failure = Attempt([&] {
        runtime_.SetTimerEnabled(true);
        running = true;
        success = kHostTrue;
        runtime_.SetStatusText(status::kRunning);
        NTService_.WriteEvent(kContinuedKind, event_id::kContinued, "Service continued");
    });
    if (failure) {
        ErrorReport(*failure);
    }
    if (running) {
        PublishStatus(kStateRunning);
    }
}

void frmService::OnControl(std::int32_t code) {
    const auto failure = Attempt([&] {
        const std::string title = NTService_.ServiceTitle();
        runtime_.SetStatusText(title + status::kControlSignal + std::to_string(code));
    });
    if (failure) {
        ErrorReport(*failure);
    }
}

void frmService::OnTimer() {
    SweepOutcome outcome;
    if (const auto failure = Attempt([&] { supervisor_.Sweep(outcome); })) {
        ErrorReport(*failure);
    }
    // However far the sweep came, the records sum up what it ended and the status file
    // shows the table it saw.
    tally_.SweepEnded(outcome.terminations);
    if (const auto failure = publisher_.PublishSweep(supervisor_.State(), outcome.snapshot)) {
        ErrorReport(*failure);
    }
}

void frmService::PublishStatus(const char* serviceState) {
    if (const auto failure = publisher_.Publish(serviceState, supervisor_.State())) {
        ErrorReport(*failure);
    }
}

void frmService::OnQueryUnload(std::int16_t& cancel) {
    if (supervisor_.State().IsStopping) {
        return;
    }
    // The window stays whatever happens below: only the stop sequence closes it.
    cancel = kHostTrue;
    const auto failure = Attempt([&] {
        const std::int32_t answer = runtime_.ShowMessageBox(
            kUnloadQuestion, box::kYesNo | box::kQuestion, std::string(kUnloadTitle));
        if (answer == box::kAnswerYes) {
            NTService_.RequestStop();
            runtime_.SetStatusText(status::kStopping);
        }
    });
    if (failure) {
        ErrorReport(*failure);
    }
}

void frmService::ReportLoosePermissions() {
    // An installation may rely on its permissions: a warning that cannot be written is
    // lost, and nothing else changes.
    try {
        for (const auto& warning : LoosePermissionWarnings(runtime_, security_)) {
            NTService_.WriteEvent(kWarningKind, kLoosePermissionsId, warning);
        }
    } catch (const std::exception&) {
    }
}

void frmService::ErrorReport(const Failure& failure) {
    // A report that cannot be written is lost: it must not end the process nor reach the
    // host from a handler that is itself reporting.
    try {
        NTService_.WriteEvent(kErrorKind, event_id::kErrorReport,
                              "[" + std::to_string(failure.Number()) + "] " +
                                  failure.Description());
    } catch (const std::exception&) {
    }
}

} // namespace ostrivan
