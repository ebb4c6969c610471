#include "platform/windows/service_status_machine.h"

namespace ostrivan::windows {

void ServiceStatusMachine::AcceptControls(std::int32_t hostControls) {
    pauseContinue_ = (static_cast<std::uint32_t>(hostControls) & accept::kPauseContinue) != 0;
}

bool ServiceStatusMachine::Pending() const {
    return state_ == ScmState::StartPending || state_ == ScmState::StopPending ||
           state_ == ScmState::PausePending || state_ == ScmState::ContinuePending;
}

std::uint32_t ServiceStatusMachine::ControlsAccepted() const {
    if (state_ == ScmState::Stopped || state_ == ScmState::StopPending) {
        return 0;
    }
    return accept::kStop | accept::kShutdown | accept::kPreshutdown |
           (pauseContinue_ ? accept::kPauseContinue : 0);
}

ControlOutcome ServiceStatusMachine::Control(std::uint32_t code) {
    switch (code) {
    case control::kStop:
    case control::kPreshutdown:
    case control::kShutdown:
        if (state_ == ScmState::Stopped || state_ == ScmState::StopPending) {
            return {};
        }
        state_ = ScmState::StopPending;
        return {kNoError, HostEvent::Stop, true};
    case control::kPause:
        if (!pauseContinue_) {
            return {kCallNotImplemented, HostEvent::None, false};
        }
        if (state_ == ScmState::Running) {
            state_ = ScmState::PausePending;
            return {kNoError, HostEvent::Pause, true};
        }
        if (state_ == ScmState::Paused || state_ == ScmState::PausePending) {
            return {};
        }
        return {kCallNotImplemented, HostEvent::None, false};
    case control::kContinue:
        if (!pauseContinue_) {
            return {kCallNotImplemented, HostEvent::None, false};
        }
        if (state_ == ScmState::Paused) {
            state_ = ScmState::ContinuePending;
            return {kNoError, HostEvent::Continue, true};
        }
        if (state_ == ScmState::Running || state_ == ScmState::ContinuePending) {
            return {};
        }
        return {kCallNotImplemented, HostEvent::None, false};
    case control::kInterrogate:
        return {};
    default:
        if (code >= control::kFirstUser && code <= control::kLastUser) {
            if (state_ == ScmState::Stopped || state_ == ScmState::StopPending) {
                return {};
            }
            return {kNoError, HostEvent::Control, false};
        }
        return {kCallNotImplemented, HostEvent::None, false};
    }
}

void ServiceStatusMachine::StartFinished(bool success) {
    if (state_ == ScmState::StartPending) {
        state_ = success ? ScmState::Running : ScmState::Stopped;
    }
}

void ServiceStatusMachine::PauseFinished(bool success) {
    if (state_ == ScmState::PausePending) {
        state_ = success ? ScmState::Paused : ScmState::Running;
    }
}

void ServiceStatusMachine::ContinueFinished(bool success) {
    if (state_ == ScmState::ContinuePending) {
        state_ = success ? ScmState::Running : ScmState::Paused;
    }
}

} // namespace ostrivan::windows
