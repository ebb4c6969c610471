#pragma once

#include "platform/posix/console.h"
#include "platform/posix/event_log.h"
#include "platform/posix/event_loop.h"
#include "platform/posix/systemd_notifier.h"
#include "platform/service_host.h"

#include <cstdint>
#include <string>

namespace ostrivan::posix {

// The service host on Linux: registration is a systemd unit, the service manager speaks
// through signals read by the loop, the event log is syslog.
//   SIGTERM -> OnStop, SIGUSR1 -> OnPause, SIGUSR2 -> OnContinue,
//   SIGRTMIN+n -> OnControl(128 + n).
// Events are raised only once Connect has been called, and always from the loop.
// A registration or removal that fails says why in one line on the console.
class PosixServiceHost final : public ServiceHost {
public:
    static constexpr const char* kServiceName = "Ostrivan";
    static constexpr const char* kDisplayName = "Ostrivan Monitoring Service";
    static constexpr std::int32_t kFirstUserControl = 128;

    // The folder of the unit: OSTRIVAN_UNIT_DIR, else the system's unit folder.
    static std::string UnitDirectoryFromEnvironment();

    PosixServiceHost(EventLoop& loop, Console& console, SystemdNotifier& notifier,
                     std::string unitDirectory, std::string executable);

    void Attach(ServiceHostEvents& events) { events_ = &events; }

    void AcceptedControls(std::int32_t controls) override { acceptedControls_ = controls; }
    std::string ServiceTitle() override { return kDisplayName; }
    // Windows shows an interactive service on the desktop; here there is nothing to choose.
    void RegistrationOption(bool) override {}
    bool Register() override;
    void WriteEvent(std::int16_t kind, std::int32_t id, const std::string& text) override;
    bool Unregister() override;
    void RequestStop() override;
    void Connect() override;
    void SaveParameter(const std::string& section, const std::string& key,
                       const std::string& value) override;
    // Beyond TimeoutStopSec= systemd waits only while told again within the time given.
    void StopPending(std::uint32_t milliseconds) noexcept override;

private:
    bool SystemdReadsUnitDirectory() const;
    std::string UnitPath() const;
    std::string ParametersPath() const;
    // Why the unit file could not be written or removed (`error` is the errno value).
    std::string UnitFileProblem(int error) const;
    void Start();
    void Stop();
    void Pause();
    void Continue();
    void Control(std::int32_t code);

    EventLoop& loop_;
    Console& console_;
    SystemdNotifier& notifier_;
    EventLog eventLog_;
    std::string unitDirectory_;
    std::string executable_;
    ServiceHostEvents* events_ = nullptr;
    std::int32_t acceptedControls_ = 0;
    bool connected_ = false;
};

} // namespace ostrivan::posix
