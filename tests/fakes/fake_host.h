#pragma once

#include "call_log.h"
#include "fault_plan.h"

#include "platform/service_host.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrivan::fakes {

struct EventLogEntry {
    std::int16_t kind = 0;
    std::int32_t id = 0;
    std::string text;

    friend bool operator==(const EventLogEntry&, const EventLogEntry&) = default;
};

struct StoredParameter {
    std::string section;
    std::string key;
    std::string value;

    friend bool operator==(const StoredParameter&, const StoredParameter&) = default;
};

// The service-host component, simulated: every call goes into the shared log in order;
// results are scripted and any member can be made to raise.
class FakeHost : public ServiceHost {
public:
    explicit FakeHost(CallLog& log);

    // --- settings
    void SetRegisterResult(bool registered) { registerResult_ = registered; }
    void SetUnregisterResult(bool unregistered) { unregisterResult_ = unregistered; }
    void SetServiceTitle(std::string title) { title_ = std::move(title); }
    FaultPlan& Faults() { return faults_; }

    // --- what the logic did
    const std::vector<EventLogEntry>& Events() const { return events_; }
    const std::vector<StoredParameter>& Parameters() const { return parameters_; }
    std::optional<std::int32_t> AcceptedControlsValue() const { return acceptedControls_; }
    std::optional<bool> RegistrationOptionValue() const { return registrationOption_; }
    bool Connected() const { return connected_; }
    int StopRequests() const { return stopRequests_; }
    int Calls(const std::string& call) const { return faults_.Calls(call); }

    // --- ServiceHost
    void AcceptedControls(std::int32_t controls) override;
    std::string ServiceTitle() override;
    void RegistrationOption(bool interactive) override;
    bool Register() override;
    void WriteEvent(std::int16_t kind, std::int32_t id, const std::string& text) override;
    bool Unregister() override;
    void RequestStop() override;
    void Connect() override;
    void SaveParameter(const std::string& section, const std::string& key,
                       const std::string& value) override;
    void StopPending(std::uint32_t) noexcept override {}

private:
    void Enter(const std::string& call, const std::string& entry);

    CallLog& log_;
    FaultPlan faults_;
    bool registerResult_ = true;
    bool unregisterResult_ = true;
    std::string title_ = "Ostrivan Monitoring Service";

    std::vector<EventLogEntry> events_;
    std::vector<StoredParameter> parameters_;
    std::optional<std::int32_t> acceptedControls_;
    std::optional<bool> registrationOption_;
    bool connected_ = false;
    int stopRequests_ = 0;
};

} // namespace ostrivan::fakes
