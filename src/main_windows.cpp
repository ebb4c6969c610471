// o-service.exe: the Windows platform wired to the service's form.
#include "platform/windows/action_event_log.h"
#include "platform/windows/command_text.h"
#include "platform/windows/event_log.h"
#include "platform/windows/form_window.h"
#include "platform/windows/instance_lock.h"
#include "platform/windows/path_security.h"
#include "platform/windows/start_refusal.h"
#include "platform/windows/windows_form_runtime.h"
#include "platform/windows/windows_process_api.h"
#include "platform/windows/windows_service_host.h"
#include "platform/windows/windows_status_platform.h"
#include "shell/frm_service.h"
#include "status/status_commands.h"

#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    using namespace ostrivan;

    const auto words = ArgumentWords(windows::Narrow(windows::ArgumentText(::GetCommandLineW())));
    if (IsStatusCommand(words)) {
        // A reader builds nothing of the service: no window, no host, no event source.
        windows::WindowsProcessApi process;
        windows::WindowsStatusPlatform status;
        return RunStatusCommand(words, status, process);
    }

    windows::EventLog eventLog;
    // A run of the service checks before anything of its own runs: the form's timer starts
    // with its window. Registration and the readers touch no process and need no lock.
    windows::InstanceLock instance;
    if (windows::ArgumentText(::GetCommandLineW()).empty()) {
        instance = windows::InstanceLock::Take();
        if (!instance.Held()) {
            eventLog.Write(windows::kEventKindError, windows::kEventErrorReport,
                           instance.Problem());
            windows::RefuseServiceStart(instance.Error());
            return 1;
        }
    }
    try {
        windows::FormWindow window(windows::Widen(kServiceCaption), kTimerInterval, true);
        windows::WindowsProcessApi process;
        windows::WindowsFormRuntime runtime(window, eventLog);
        windows::WindowsServiceHost host(window, eventLog);

        windows::WindowsPathSecurity security;
        windows::WindowsActionLog actions(eventLog);
        windows::WindowsStatusPlatform status;
        frmService form(host, runtime, process, security, actions, status);
        runtime.Attach(form);
        host.Attach(form);
        runtime.OnProcessEnd([&host](int exitCode) { host.ProcessEnding(exitCode); });

        // The load is the form's first event: nothing else runs until it has returned.
        window.Raise([&form] { form.Load(); });
        const int exitCode = window.Run();
        host.ProcessEnding(exitCode);
        return exitCode;
    } catch (const Failure& failure) {
        // Only the window itself can fail here, before any handler exists to report it.
        eventLog.Write(windows::kEventKindError, windows::kEventErrorReport,
                       windows::ErrorReportText(failure));
        return 1;
    }
}
