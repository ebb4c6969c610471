#include "platform/posix/path_security.h"

#include "platform/posix/command_line.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace ostrivan::posix {
namespace {

// Large enough for the entries of any local account database.
constexpr std::size_t kEntryBuffer = 16384;

std::string UserName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(kEntryBuffer);
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return "uid " + std::to_string(uid);
}

std::string GroupName(gid_t gid) {
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(kEntryBuffer);
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return found->gr_name;
    }
    return "gid " + std::to_string(gid);
}

} // namespace

std::optional<LooseWriters> PosixPathSecurity::CheckWriters(const std::string& path) {
    const std::string file = ToPosixPath(path);
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        return std::nullopt;
    }
    LooseWriters loose{file, {}};
    if (status.st_uid != 0 && status.st_uid != ::geteuid()) {
        loose.accounts.push_back("owner " + UserName(status.st_uid));
    }
    if ((status.st_mode & S_IWGRP) != 0) {
        loose.accounts.push_back("group " + GroupName(status.st_gid));
    }
    if ((status.st_mode & S_IWOTH) != 0) {
        loose.accounts.push_back("every account");
    }
    if (loose.accounts.empty()) {
        return std::nullopt;
    }
    return loose;
}

} // namespace ostrivan::posix
