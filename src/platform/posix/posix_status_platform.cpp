#include "platform/posix/posix_status_platform.h"

#include "platform/failure.h"
#include "platform/posix/clocks.h"
#include "platform/posix/file_writing.h"
#include "platform/posix/proc_reader.h"
#include "platform/posix/spawn.h"
#include "platform/posix/unit_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

namespace ostrivan::posix {
namespace {

// Seconds since 1970 at which the machine booted: the "btime" line of /proc/stat.
std::optional<std::int64_t> BootTime() {
    const auto text = ReadSmallFile("/proc/stat");
    if (!text) {
        return std::nullopt;
    }
    std::istringstream lines(*text);
    std::string word;
    while (lines >> word) {
        std::int64_t seconds = 0;
        if (word == "btime" && lines >> seconds) {
            return seconds;
        }
    }
    return std::nullopt;
}

std::map<std::string, std::string> Properties(const std::string& text) {
    std::map<std::string, std::string> properties;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            properties[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return properties;
}

ServiceView ViewOf(const std::string& load, const std::string& active, const std::string& sub) {
    if (load == "not-found") {
        return ServiceView::NotInstalled;
    }
    if (active == "active" || active == "reloading" || active == "deactivating") {
        return ServiceView::Running;
    }
    if (active == "activating" && sub != "auto-restart") {
        return ServiceView::Running;
    }
    return active.empty() ? ServiceView::Unknown : ServiceView::Stopped;
}

} // namespace

std::string PosixStatusPlatform::FolderFromEnvironment() {
    const char* folder = std::getenv("OSTRIVAN_STATUS_DIR");
    return folder != nullptr && *folder != '\0' ? folder : kDefaultFolder;
}

PosixStatusPlatform::PosixStatusPlatform(Console& console, std::string folder)
    : console_(console), folder_(std::move(folder)) {}

std::int64_t PosixStatusPlatform::UtcNow() {
    return UtcMilliseconds();
}

std::optional<std::int64_t> PosixStatusPlatform::CreationTimeUtc(std::uint64_t creationTime) {
    // Start times are clock ticks since the boot.
    if (!bootTime_) {
        bootTime_ = BootTime();
    }
    const long ticks = ::sysconf(_SC_CLK_TCK);
    if (!bootTime_ || ticks <= 0) {
        return std::nullopt;
    }
    return *bootTime_ + static_cast<std::int64_t>(creationTime / static_cast<std::uint64_t>(ticks));
}

ProcessId PosixStatusPlatform::OwnProcessId() {
    return static_cast<ProcessId>(::getpid());
}

bool PosixStatusPlatform::HasStatusFolder() {
    struct stat folder {};
    if (::stat(folder_.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode)) {
        return true;
    }
    if (!missingReported_) {
        missingReported_ = true;
        console_.Log("no folder " + folder_ + ": no status file is written");
    }
    return false;
}

void PosixStatusPlatform::Publish(const std::string& status, const std::string& metrics) {
    for (const auto& [path, content] :
         {std::pair{StatusPath(), &status}, std::pair{MetricsPath(), &metrics}}) {
        // The folder lives in memory: nothing to wait for on the way to a disk.
        if (const int error = ReplaceFile(path, *content, false); error != 0) {
            throw Failure(error, std::string(std::strerror(error)) + ": " + path);
        }
    }
}

std::optional<std::string> PosixStatusPlatform::ReadStatus() {
    return ReadSmallFile(StatusPath());
}

ServiceManagerView PosixStatusPlatform::QueryService() {
    ServiceManagerView view;
    if (::access("/run/systemd/system", F_OK) != 0) {
        view.detail = "no systemd";
        return view;
    }
    const auto output = RunAndRead(
        {"systemctl", "show", "--property=LoadState,ActiveState,SubState,MainPID", kUnitName});
    if (!output) {
        view.detail = "systemctl show failed";
        return view;
    }
    auto properties = Properties(*output);
    view.state = ViewOf(properties["LoadState"], properties["ActiveState"], properties["SubState"]);
    view.detail = "systemd: " + properties["ActiveState"] + " (" + properties["SubState"] + ")";
    view.pid = static_cast<ProcessId>(std::strtoul(properties["MainPID"].c_str(), nullptr, 10));
    return view;
}

void PosixStatusPlatform::Print(const std::string& text) {
    WriteAll(STDOUT_FILENO, text);
}

} // namespace ostrivan::posix
