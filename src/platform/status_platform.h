#pragma once

#include "platform/process_api.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ostrivan {

// What the platform's service manager says of the installed service.
enum class ServiceView : std::uint8_t {
    Running,
    Paused,
    Stopped,
    NotInstalled,
    Unknown, // no service manager to ask, or it did not answer
};

struct ServiceManagerView {
    ServiceView state = ServiceView::Unknown;
    ProcessId pid = 0;  // the service's process, 0 when unknown
    std::string detail; // the manager's own words, for the table
};

// The status file on this platform, its clock, and the service manager's view.
class StatusPlatform {
public:
    virtual ~StatusPlatform() = default;

    // Milliseconds since 1970-01-01 00:00 UTC: the clock of FormRuntime::UtcNow, so that the
    // service and the readers of its status judge time alike.
    virtual std::int64_t UtcNow() = 0;
    // A creation time of ProcessApi::GetProcessCreationTime in UTC seconds.
    virtual std::optional<std::int64_t> CreationTimeUtc(std::uint64_t creationTime) = 0;
    virtual ProcessId OwnProcessId() = 0;

    // False where the platform keeps no status folder (saying so once); the status is then
    // neither gathered nor written. Raises Failure when the folder cannot be made.
    virtual bool HasStatusFolder() = 0;
    // Replaces the status file and the metrics file beside it, each in one step, without
    // waiting on anyone. Raises Failure when they cannot be written.
    virtual void Publish(const std::string& status, const std::string& metrics) = 0;
    // The status file's text; nothing when it cannot be read.
    virtual std::optional<std::string> ReadStatus() = 0;
    virtual std::string StatusPath() = 0;

    virtual ServiceManagerView QueryService() = 0;
    // Text for whoever started this process: its console, or the file it was started with.
    virtual void Print(const std::string& text) = 0;
};

} // namespace ostrivan
