#pragma once

#include "platform/status_platform.h"

#include <optional>
#include <string>

namespace ostrivan::windows {

// The status in %ProgramData%\Ostrivan, a folder that only SYSTEM and the administrators
// may change; the service's view is the service control manager's. A reader's output goes
// to the handles it was started with, else to the console of the program that started it.
class WindowsStatusPlatform final : public StatusPlatform {
public:
    WindowsStatusPlatform();

    std::int64_t UtcNow() override;
    std::optional<std::int64_t> CreationTimeUtc(std::uint64_t creationTime) override;
    ProcessId OwnProcessId() override;
    bool HasStatusFolder() override;
    void Publish(const std::string& status, const std::string& metrics) override;
    std::optional<std::string> ReadStatus() override;
    std::string StatusPath() override { return folder_ + "\\status.json"; }
    ServiceManagerView QueryService() override;
    void Print(const std::string& text) override;

private:
    std::string folder_;
    bool secured_ = false;
};

} // namespace ostrivan::windows
