#include "fault_plan.h"

#include <algorithm>
#include <stdexcept>

namespace ostrivan::fakes {

FaultPlan::FaultPlan(std::vector<std::string> failableCalls)
    : failable_(std::move(failableCalls)) {}

void FaultPlan::Check(const std::string& call) const {
    if (std::find(failable_.begin(), failable_.end(), call) == failable_.end()) {
        throw std::logic_error("this fake has no failable call named " + call);
    }
}

void FaultPlan::Fail(const std::string& call, int nth) {
    Raise(call, nullptr, nth);
}

void FaultPlan::Raise(const std::string& call, std::exception_ptr error, int nth) {
    Check(call);
    faults_[call] = Fault{nth, Calls(call), std::move(error)};
}

void FaultPlan::Clear(const std::string& call) {
    Check(call);
    faults_.erase(call);
}

bool FaultPlan::Hit(const std::string& call) {
    const int count = ++calls_[call];
    const auto it = faults_.find(call);
    if (it == faults_.end()) {
        return false;
    }
    const Fault& fault = it->second;
    if (fault.nth != 0 && count - fault.armedAt != fault.nth) {
        return false;
    }
    if (fault.error) {
        std::rethrow_exception(fault.error);
    }
    return true;
}

int FaultPlan::Calls(const std::string& call) const {
    const auto it = calls_.find(call);
    return it == calls_.end() ? 0 : it->second;
}

} // namespace ostrivan::fakes
