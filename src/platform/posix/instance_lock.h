#pragma once

#include "platform/posix/unique_fd.h"

#include <string>

namespace ostrivan::posix {

// One run of the service per machine: the service's terminations by name reach every
// process of the machine, so two supervisors would end each other's suites. The lock is a
// record lock on a file in a folder only the service's account may write; it is held until
// the process ends, on a descriptor no launched program inherits.
class InstanceLock {
public:
    // Root's: a folder no other account can write, so that none can make the lock's folder
    // first and keep the service from starting. /run/lock is writable by every account.
    static constexpr const char* kRootFolder = "/run";
    // Another account's: a folder of its own there.
    static constexpr const char* kAccountFolderPrefix = "/run/lock/ostrivan-";
    static constexpr const char* kFileName = "o-service.lock";

    // OSTRIVAN_LOCK_DIR, else the folder of this process's account; tests that run services
    // side by side give each its own.
    static std::string FolderFromEnvironment();

    // Makes the folder when it is missing; refuses one that another account owns or may
    // write, as it could then hold the lock or move the file away.
    static InstanceLock Take(const std::string& folder);

    bool Held() const { return file_.Valid(); }
    // Why the lock is not held: "already running as pid N ...", or what is wrong with the
    // folder. One line.
    const std::string& Problem() const { return problem_; }

private:
    UniqueFd file_;
    std::string problem_;
};

} // namespace ostrivan::posix
