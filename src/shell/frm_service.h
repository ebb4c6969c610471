#pragma once

#include "platform/action_log.h"
#include "platform/failure.h"
#include "platform/form_runtime.h"
#include "platform/path_security.h"
#include "platform/process_api.h"
#include "platform/service_host.h"
#include "platform/status_platform.h"
#include "status/status_publisher.h"
#include "status/status_tally.h"
#include "supervisor/supervisor.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ostrivan {

inline constexpr const char* kServiceCaption = "Ostrivan Monitoring Service";
inline constexpr std::uint32_t kTimerInterval = 60000;
inline constexpr std::int32_t kAcceptPauseContinue = 2;

// The service's only form: the load sequence and every event handler. Each handler
// catches at its own boundary and writes the error report; nothing reaches the host.
class frmService : public ServiceHostEvents, public FormEvents {
public:
    frmService(ServiceHost& NTService, FormRuntime& runtime, ProcessApi& process,
               PathSecurity& security, ActionLog& log, StatusPlatform& status)
        : NTService_(NTService), runtime_(runtime), security_(security), status_(status),
          tally_(log, [this] { return status_.UtcNow(); }), supervisor_(process, runtime, tally_),
          publisher_(process, status, tally_, kTimerInterval / 1000) {}

    // The program's entry: loading the form.
    void Load();

    void OnStart(HostFlag& success) override;
    void OnStop() override;
    void OnPause(HostFlag& success) override;
    void OnContinue(HostFlag& success) override;
    void OnControl(std::int32_t code) override;

    void OnTimer() override;
    void OnQueryUnload(std::int16_t& cancel) override;

    const SupervisorState& State() const { return supervisor_.State(); }

private:
    void ErrorReport(const Failure& failure);
    // After a failed load: a run with an argument ends with exit code 1.
    void EndUnlessServiceRun(std::optional<std::string> arguments);
    // Warns of every suite path that others may change; the service goes on regardless.
    void ReportLoosePermissions();
    void PublishStatus(const char* serviceState);

    ServiceHost& NTService_;
    FormRuntime& runtime_;
    PathSecurity& security_;
    StatusPlatform& status_;
    StatusTally tally_;
    Supervisor supervisor_;
    StatusPublisher publisher_;
};

} // namespace ostrivan
