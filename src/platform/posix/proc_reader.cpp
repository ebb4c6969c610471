#include "platform/posix/proc_reader.h"

#include "platform/posix/proc_text.h"
#include "platform/posix/unique_fd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace ostrivan::posix {
namespace {

// /proc/PID/status is the largest file read here, a few KiB.
constexpr std::size_t kMaxFileSize = 1 << 20;

} // namespace

std::optional<std::string> ReadSmallFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        return std::nullopt;
    }
    std::string content;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            return content;
        }
        content.append(buffer, static_cast<std::size_t>(got));
        if (content.size() > kMaxFileSize) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> ReadLink(const std::string& path) {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t got = ::readlink(path.c_str(), target.data(), target.size());
        if (got < 0) {
            return std::nullopt;
        }
        if (static_cast<std::size_t>(got) < target.size()) {
            target.resize(static_cast<std::size_t>(got));
            return target;
        }
        if (target.size() >= kMaxFileSize) {
            return std::nullopt;
        }
        target.resize(target.size() * 2);
    }
}

std::string ProcPath(pid_t pid, const char* leaf) {
    return "/proc/" + std::to_string(pid) + "/" + leaf;
}

std::optional<std::string> ImageNameOf(pid_t pid) {
    if (const auto exe = ReadLink(ProcPath(pid, "exe"))) {
        return ImageBaseName(*exe);
    }
    if (const auto comm = ReadSmallFile(ProcPath(pid, "comm"))) {
        return CommName(*comm);
    }
    return std::nullopt;
}

} // namespace ostrivan::posix
