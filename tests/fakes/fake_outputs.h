#pragma once

#include "fake_runtime.h"

#include "platform/action_log.h"
#include "platform/failure.h"
#include "platform/status_platform.h"

#include <optional>
#include <string>
#include <vector>

namespace ostrivan::fakes {

// The platform's action log, simulated: keeps every record and counts the ends of sweeps.
class FakeActionLog : public ActionLog {
public:
    void Record(const ActionRecord& record) noexcept override { records_.push_back(record); }
    void SweepEnded() noexcept override { ++sweepsEnded_; }

    const std::vector<ActionRecord>& Records() const { return records_; }
    int SweepsEnded() const { return sweepsEnded_; }

private:
    std::vector<ActionRecord> records_;
    int sweepsEnded_ = 0;
};

// The status folder, simulated: off until a test turns it on; the clock is the runtime's
// virtual wall clock; creation times are FILETIME values.
class FakeStatusPlatform : public StatusPlatform {
public:
    explicit FakeStatusPlatform(FakeRuntime& runtime) : runtime_(runtime) {}

    void KeepFolder(bool keep) { keepFolder_ = keep; }
    void FailWrites(bool fail) { failWrites_ = fail; }
    const std::optional<std::string>& Status() const { return status_; }
    const std::optional<std::string>& Metrics() const { return metrics_; }
    int Writes() const { return writes_; }
    const std::string& Printed() const { return printed_; }

    std::int64_t UtcNow() override { return runtime_.UtcMilliseconds() / 1000; }
    // FILETIME: 100 ns units since 1601.
    std::optional<std::int64_t> CreationTimeUtc(std::uint64_t creationTime) override {
        return static_cast<std::int64_t>(creationTime / 10'000'000) - 11'644'473'600;
    }
    ProcessId OwnProcessId() override { return kOwnPid; }
    bool HasStatusFolder() override { return keepFolder_; }
    void Publish(const std::string& status, const std::string& metrics) override {
        ++writes_;
        if (failWrites_) {
            throw Failure(5, "Access is denied");
        }
        status_ = status;
        metrics_ = metrics;
    }
    std::optional<std::string> ReadStatus() override { return status_; }
    std::string StatusPath() override { return "C:\\ProgramData\\Ostrivan\\status.json"; }
    ServiceManagerView QueryService() override {
        return {ServiceView::Running, kOwnPid, "running"};
    }
    void Print(const std::string& text) override { printed_ += text; }

    static constexpr ProcessId kOwnPid = 4242;

private:
    FakeRuntime& runtime_;
    bool keepFolder_ = false;
    bool failWrites_ = false;
    std::optional<std::string> status_;
    std::optional<std::string> metrics_;
    int writes_ = 0;
    std::string printed_;
};

} // namespace ostrivan::fakes
