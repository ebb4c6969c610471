#pragma once

#include "fake_runtime.h"

#include "platform/failure.h"
#include "platform/status_platform.h"

namespace ostrivan::fakes {

// The status folder as the service writes it, simulated: off until a test turns it on.
class FakeStatusPlatform : public StatusPlatform {
public:
    explicit FakeStatusPlatform(FakeRuntime& runtime) : runtime_(runtime) {}

    void KeepFolder(bool keep) { keepFolder_ = keep; }
    void FailWrites(bool fail) { failWrites_ = fail; }
    const std::optional<std::string>& Status() const { return status_; }
    const std::string& Metrics() const { return metrics_; }

    std::int64_t UtcNow() override { return runtime_.UtcMilliseconds(); }
    std::optional<std::int64_t> CreationTimeUtc(std::uint64_t) override { return std::nullopt; }
    ProcessId OwnProcessId() override { return 4242; }
    bool HasStatusFolder() override { return keepFolder_; }
    void Publish(const std::string& status, const std::string& metrics) override {
        if (failWrites_) {
            throw Failure(5, "Access is denied");
        }
        status_ = status;
        metrics_ = metrics;
    }
    std::optional<std::string> ReadStatus() override { return status_; }
    std::string StatusPath() override { return "status.json"; }
    ServiceManagerView QueryService() override { return {}; }
    void Print(const std::string&) override {}

private:
    FakeRuntime& runtime_;
    bool keepFolder_ = false;
    bool failWrites_ = false;
    std::optional<std::string> status_;
    std::string metrics_;
};

} // namespace ostrivan::fakes
