#include "platform/posix/instance_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ostrivan::posix {
namespace {

// The holder may end between a refused lock and the question who holds it.
constexpr int kAttempts = 3;

std::string Refusal(const std::string& why) {
    return why + ": the service cannot tell whether another run of it is on the machine, and "
                 "does not start";
}

std::string SystemError(int error) {
    // What O_NOFOLLOW and O_DIRECTORY answer for a link or a file.
    return error == ELOOP || error == ENOTDIR ? "not a folder (a link, or a file)"
                                              : std::strerror(error);
}

// The folder, opened without following a link, once no other account can change it.
UniqueFd OpenOwnFolder(const std::string& folder, std::string& problem) {
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        problem = Refusal("cannot make the lock folder " + folder + ": " + SystemError(errno));
        return UniqueFd();
    }
    UniqueFd opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat about {};
    if (!opened || ::fstat(opened.Get(), &about) != 0) {
        problem = Refusal("cannot open the lock folder " + folder + ": " + SystemError(errno));
        return UniqueFd();
    }
    if (about.st_uid != ::geteuid()) {
        problem = Refusal("the lock folder " + folder + " belongs to account " +
                          std::to_string(about.st_uid) + ", not to this one (" +
                          std::to_string(::geteuid()) + ")");
        return UniqueFd();
    }
    if ((about.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        problem = Refusal("other accounts may write to the lock folder " + folder);
        return UniqueFd();
    }
    return opened;
}

struct flock WholeFile(short type) {
    struct flock whole {};
    whole.l_type = type;
    whole.l_whence = SEEK_SET;
    return whole;
}

// Who holds the lock: its pid, -1 when it cannot be told, 0 when the lock is free now. A
// holder in another pid namespace shows as 0 to F_GETLK: the pid it wrote is read instead.
pid_t Holder(int file) {
    struct flock question = WholeFile(F_WRLCK);
    if (::fcntl(file, F_GETLK, &question) != 0) {
        return -1;
    }
    if (question.l_type == F_UNLCK) {
        return 0;
    }
    if (question.l_pid > 0) {
        return question.l_pid;
    }
    char text[16] = {};
    const ssize_t got = ::pread(file, text, sizeof text - 1, 0);
    const long written = got > 0 ? std::strtol(text, nullptr, 10) : 0;
    return written > 0 ? static_cast<pid_t>(written) : -1;
}

void WriteOwnPid(int file) {
    const std::string pid = std::to_string(::getpid()) + "\n";
    // Only for readers in other pid namespaces: the lock holds without it.
    static_cast<void>(::ftruncate(file, 0) == 0 &&
                      ::pwrite(file, pid.data(), pid.size(), 0) == ssize_t(pid.size()));
}

} // namespace

std::string InstanceLock::FolderFromEnvironment() {
    const char* folder = std::getenv("OSTRIVAN_LOCK_DIR");
    if (folder != nullptr && *folder != '\0') {
        return folder;
    }
    const uid_t account = ::geteuid();
    return account == 0 ? kRootFolder : kAccountFolderPrefix + std::to_string(account);
}

InstanceLock InstanceLock::Take(const std::string& folder) {
    InstanceLock lock;
    const UniqueFd own = OpenOwnFolder(folder, lock.problem_);
    if (!own) {
        return lock;
    }
    const std::string path = folder + "/" + kFileName;
    UniqueFd file(::openat(own.Get(), kFileName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file) {
        lock.problem_ = Refusal("cannot open " + path + ": " + SystemError(errno));
        return lock;
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        struct flock whole = WholeFile(F_WRLCK);
        if (::fcntl(file.Get(), F_SETLK, &whole) == 0) {
            WriteOwnPid(file.Get());
            lock.file_ = std::move(file);
            return lock;
        }
        if (errno != EAGAIN && errno != EACCES) {
            lock.problem_ = Refusal("cannot lock " + path + ": " + SystemError(errno));
            return lock;
        }
        if (const pid_t holder = Holder(file.Get()); holder != 0) {
            lock.problem_ = "already running as " +
                            (holder > 0 ? "pid " + std::to_string(holder)
                                        : std::string("a process whose pid cannot be read")) +
                            " (it holds " + path + "): this run ends and touches no process";
            return lock;
        }
    }
    lock.problem_ = Refusal("the lock on " + path + " keeps changing hands");
    return lock;
}

} // namespace ostrivan::posix
