// o-service on Linux: the posix platform wired to the service's form.
#include "platform/posix/action_journal.h"
#include "platform/posix/command_line.h"
#include "platform/posix/console.h"
#include "platform/posix/event_loop.h"
#include "platform/posix/instance_lock.h"
#include "platform/posix/path_security.h"
#include "platform/posix/pidfd.h"
#include "platform/posix/posix_form_runtime.h"
#include "platform/posix/posix_process_api.h"
#include "platform/posix/posix_service_host.h"
#include "platform/posix/posix_status_platform.h"
#include "platform/posix/self_executable.h"
#include "platform/posix/systemd_notifier.h"
#include "shell/frm_service.h"
#include "status/status_commands.h"

#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace ostrivan;

    const std::vector<std::string> words(argv + 1, argv + argc);
    if (IsStatusCommand(words)) {
        // A reader builds nothing of the service: no loop, no host, no form.
        posix::Console console;
        posix::PosixProcessApi process;
        posix::PosixStatusPlatform status(console,
                                          posix::PosixStatusPlatform::FolderFromEnvironment());
        return RunStatusCommand(words, status, process);
    }

    // First of all, before a signal meant for the loop can end the process.
    posix::EventLoop loop;
    posix::Console console;

    const std::string arguments = posix::ArgumentText(words);
    // A run of the service checks before anything of its own runs (the timer starts with
    // the runtime below). Registration and the readers touch no process and need neither.
    posix::InstanceLock instance;
    if (arguments.empty()) {
        if (const int error = posix::PidfdOpenError(); error != 0) {
            console.Log(posix::PidfdMissingText(error));
            return EXIT_FAILURE;
        }
        instance = posix::InstanceLock::Take(posix::InstanceLock::FolderFromEnvironment());
        if (!instance.Held()) {
            console.Log(instance.Problem());
            return EXIT_FAILURE;
        }
    }
    const auto executable = posix::ExecutablePath();
    if (!executable) {
        console.Log("cannot read /proc/self/exe: the service needs /proc");
        return EXIT_FAILURE;
    }
    auto notifier = posix::SystemdNotifier::FromEnvironment();
    posix::PosixProcessApi process;
    posix::PosixFormRuntime runtime(loop, console, notifier, posix::FolderOf(*executable),
                                    arguments, kTimerInterval, true);
    if (!loop.Valid() || !runtime.TimerValid()) {
        // Without them no signal would be read and no sweep would run.
        console.Log("cannot set up the event loop: out of descriptors or memory");
        return EXIT_FAILURE;
    }
    posix::PosixServiceHost host(loop, console, notifier,
                                 posix::PosixServiceHost::UnitDirectoryFromEnvironment(),
                                 *executable);

    posix::PosixPathSecurity security;
    posix::ActionJournal actions(console);
    posix::PosixStatusPlatform status(console, posix::PosixStatusPlatform::FolderFromEnvironment());
    frmService form(host, runtime, process, security, actions, status);
    runtime.Attach(form);
    host.Attach(form);

    form.Load();
    const int exitCode = loop.Run();
    console.Finish();
    return exitCode;
}
