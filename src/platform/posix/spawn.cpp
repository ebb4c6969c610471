#include "platform/posix/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace ostrivan::posix {
namespace {

// posix_spawn's attribute and file-action objects, destroyed on every way out.
class SpawnSetup {
public:
    explicit SpawnSetup(bool newSession) {
        ::posix_spawnattr_init(&attributes_);
        ::posix_spawn_file_actions_init(&actions_);
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        ::posix_spawnattr_setsigmask(&attributes_, &none);
        ::posix_spawnattr_setsigdefault(&attributes_, &all);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (newSession) {
            flags |= POSIX_SPAWN_SETSID;
        }
        ::posix_spawnattr_setflags(&attributes_, flags);
        ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        // Whatever the service itself inherited stays with it.
        ::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attributes_);
    }

    const posix_spawnattr_t* Attributes() const { return &attributes_; }
    const posix_spawn_file_actions_t* Actions() const { return &actions_; }

private:
    posix_spawnattr_t attributes_;
    posix_spawn_file_actions_t actions_;
};

std::vector<char*> ArgumentPointers(const std::vector<std::string>& argv) {
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (const auto& word : argv) {
        pointers.push_back(const_cast<char*>(word.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

Spawned SpawnDetached(const std::string& program, const std::vector<std::string>& argv) {
    const SpawnSetup setup(true);
    auto pointers = ArgumentPointers(argv);
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, program.c_str(), setup.Actions(), setup.Attributes(),
                                    pointers.data(), environ);
    return error == 0 ? Spawned{pid, 0} : Spawned{0, error};
}

int RunAndWait(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return -1;
    }
    const SpawnSetup setup(false);
    auto pointers = ArgumentPointers(argv);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0].c_str(), setup.Actions(), setup.Attributes(), pointers.data(),
                       environ) != 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace ostrivan::posix
