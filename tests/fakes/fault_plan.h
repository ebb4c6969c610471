#pragma once

#include "platform/failure.h"

#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <vector>

namespace ostrivan::fakes {

// What a failing host or runtime call raises unless the test plans another error.
inline constexpr std::int32_t kFakeFailureNumber = 440;
inline Failure FakeFailure(const std::string& call) {
    return Failure(kFakeFailureNumber, call + " failed");
}

// Which calls of one fake fail, and how. Calls are named as the member they stand for
// ("OpenProcess", "Register"); a name the fake does not know is a mistake in the test and
// raises std::logic_error at once.
class FaultPlan {
public:
    explicit FaultPlan(std::vector<std::string> failableCalls);

    // Every later call fails (nth 0), or only the nth call from now on (1 = the next one).
    // A process call then reports failure through its result; a host or runtime call
    // raises the fake's own Failure.
    void Fail(const std::string& call, int nth = 0);
    // As Fail, but the call raises `error` (a Failure with a chosen number,
    // std::bad_alloc, ...).
    void Raise(const std::string& call, std::exception_ptr error, int nth = 0);
    void Clear(const std::string& call);
    void ClearAll() { faults_.clear(); }

    // Counts one call of `call`; raises the planned error, or returns true when this call
    // must report failure.
    bool Hit(const std::string& call);
    // Counts a call that cannot fail.
    void Count(const std::string& call) { ++calls_[call]; }
    // How many calls of `call` were made so far, failed ones included.
    int Calls(const std::string& call) const;

private:
    struct Fault {
        int nth = 0;
        int armedAt = 0;
        std::exception_ptr error;
    };

    void Check(const std::string& call) const;

    std::vector<std::string> failable_;
    std::map<std::string, int> calls_;
    std::map<std::string, Fault> faults_;
};

} // namespace ostrivan::fakes
