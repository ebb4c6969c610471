#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace ostrivan::posix {

struct Spawned {
    pid_t pid = 0;
    int error = 0; // errno value; 0 when the program was started
};

// The environment a launched program gets: the service's own, without what systemd gave
// the service alone (its notification socket and watchdog), so that no program can speak
// for the service.
std::vector<std::string> ChildEnvironment();

// Starts a program on its own: a session of its own (a Ctrl-C at the service's terminal
// is not meant for it), no signal blocked or ignored, standard input from /dev/null, no
// descriptor but the three standard ones. It is killed (SIGKILL) when the calling thread
// ends, so a service that dies takes the programs it launched with it; their own children
// are not covered.
// The caller reaps it.
Spawned SpawnDetached(const std::string& program, const std::vector<std::string>& argv);

// Runs a program found on PATH and waits for it; its exit status, or -1 when it could
// not be run or did not exit normally.
int RunAndWait(const std::vector<std::string>& argv);

// Runs a program found on PATH and returns its standard output; nothing when it could not
// be run or did not exit with status 0.
std::optional<std::string> RunAndRead(const std::vector<std::string>& argv);

} // namespace ostrivan::posix
