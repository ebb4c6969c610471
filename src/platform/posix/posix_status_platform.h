#pragma once

#include "platform/posix/console.h"
#include "platform/status_platform.h"

#include <optional>
#include <string>

namespace ostrivan::posix {

// The status in /run/ostrivan, the folder systemd makes for the unit (RuntimeDirectory=);
// the service's view is systemd's. A run without that folder writes no status and says so
// once.
class PosixStatusPlatform final : public StatusPlatform {
public:
    static constexpr const char* kDefaultFolder = "/run/ostrivan";

    // OSTRIVAN_STATUS_DIR, else the folder systemd makes.
    static std::string FolderFromEnvironment();

    PosixStatusPlatform(Console& console, std::string folder);

    std::int64_t UtcNow() override;
    std::optional<std::int64_t> CreationTimeUtc(std::uint64_t creationTime) override;
    ProcessId OwnProcessId() override;
    bool HasStatusFolder() override;
    void Publish(const std::string& status, const std::string& metrics) override;
    std::optional<std::string> ReadStatus() override;
    std::string StatusPath() override { return folder_ + "/status.json"; }
    ServiceManagerView QueryService() override;
    void Print(const std::string& text) override;

private:
    std::string MetricsPath() const { return folder_ + "/ostrivan.prom"; }

    Console& console_;
    std::string folder_;
    bool missingReported_ = false;
    std::optional<std::int64_t> bootTime_;
};

} // namespace ostrivan::posix
