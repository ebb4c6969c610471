#pragma once

// The service's state as the service control manager sees it, and what each control asks
// of the form. No OS header: the values are the platform's own, and the Linux build tests
// the rules too.

#include <cstdint>

namespace ostrivan::windows {

enum class ScmState : std::uint32_t {
    Stopped = 1,
    StartPending = 2,
    StopPending = 3,
    Running = 4,
    ContinuePending = 5,
    PausePending = 6,
    Paused = 7,
};

namespace control {
inline constexpr std::uint32_t kStop = 1;
inline constexpr std::uint32_t kPause = 2;
inline constexpr std::uint32_t kContinue = 3;
inline constexpr std::uint32_t kInterrogate = 4;
inline constexpr std::uint32_t kShutdown = 5;
inline constexpr std::uint32_t kPreshutdown = 0xF;
inline constexpr std::uint32_t kFirstUser = 128;
inline constexpr std::uint32_t kLastUser = 255;
} // namespace control

namespace accept {
inline constexpr std::uint32_t kStop = 1;
inline constexpr std::uint32_t kPauseContinue = 2;
inline constexpr std::uint32_t kShutdown = 4;
inline constexpr std::uint32_t kPreshutdown = 0x100;
} // namespace accept

inline constexpr std::uint32_t kNoError = 0;
inline constexpr std::uint32_t kCallNotImplemented = 120;

// The form event a control leads to.
enum class HostEvent { None, Stop, Pause, Continue, Control };

struct ControlOutcome {
    // What the control handler answers the service manager.
    std::uint32_t result = kNoError;
    HostEvent event = HostEvent::None;
    // True when the new state must be reported before the event is handled.
    bool stateChanged = false;
};

class ServiceStatusMachine {
public:
    // The host's AcceptedControls value: 2 adds pause and continue. Stop is always taken, and
    // so are pre-shutdown and shutdown, which stop the service the same way before the
    // system goes down.
    void AcceptControls(std::int32_t hostControls);

    ScmState State() const { return state_; }
    bool Pending() const;
    // SERVICE_ACCEPT_* bits for the current state.
    std::uint32_t ControlsAccepted() const;

    void Starting() { state_ = ScmState::StartPending; }
    ControlOutcome Control(std::uint32_t code);
    void StartFinished(bool success);
    void PauseFinished(bool success);
    void ContinueFinished(bool success);
    void Stopped() { state_ = ScmState::Stopped; }

private:
    ScmState state_ = ScmState::Stopped;
    bool pauseContinue_ = false;
};

} // namespace ostrivan::windows
