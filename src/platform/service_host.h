#pragma once

#include <cstdint>
#include <string>

namespace ostrivan {

// A 16-bit boolean as the host passes it by reference: true is -1, false is 0.
using HostFlag = std::int16_t;
inline constexpr HostFlag kHostTrue = -1;
inline constexpr HostFlag kHostFalse = 0;

// What the host raises after Connect, always on the thread that owns the form,
// one event at a time.
class ServiceHostEvents {
public:
    virtual ~ServiceHostEvents() = default;
    virtual void OnStart(HostFlag& success) = 0;
    virtual void OnStop() = 0;
    virtual void OnPause(HostFlag& success) = 0;
    virtual void OnContinue(HostFlag& success) = 0;
    virtual void OnControl(std::int32_t code) = 0;
};

// The service-host component: registration, connection to the service manager,
// event log and parameter storage. Failing calls raise Failure.
class ServiceHost {
public:
    virtual ~ServiceHost() = default;
    virtual void AcceptedControls(std::int32_t controls) = 0;
    virtual std::string ServiceTitle() = 0;
    virtual void RegistrationOption(bool interactive) = 0;
    virtual bool Register() = 0;
    virtual void WriteEvent(std::int16_t kind, std::int32_t id, const std::string& text) = 0;
    virtual bool Unregister() = 0;
    virtual void RequestStop() = 0;
    // Returns promptly; events follow later through the owning thread's loop.
    virtual void Connect() = 0;
    virtual void SaveParameter(const std::string& section, const std::string& key,
                               const std::string& value) = 0;
    // A stop under way may take up to `milliseconds` more: the service manager is told, so
    // that it neither gives up on the service nor ends it early. Never raises.
    virtual void StopPending(std::uint32_t milliseconds) noexcept = 0;
};

} // namespace ostrivan
