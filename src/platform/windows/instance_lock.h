#pragma once

#include "platform/windows/win32.h"

#include <string>

namespace ostrivan::windows {

// One run of the service per machine: the service's terminations by name reach every
// process of the machine, so two supervisors would end each other's suites. The lock is a
// named section in the Global namespace, which only services and administrators may create;
// it carries the holder's process id and goes away with the holder's process, however it
// ends. No launched program inherits it.
class InstanceLock {
public:
    static constexpr const wchar_t* kObjectName = L"Global\\Ostrivan.o-service";

    static InstanceLock Take();

    bool Held() const { return static_cast<bool>(section_); }
    // Why the lock is not held, in one line: "already running as pid N ...", or why it could
    // not be told.
    const std::string& Problem() const { return problem_; }
    // ERROR_SERVICE_ALREADY_RUNNING, or the system's error when it could not be told.
    DWORD Error() const { return error_; }

private:
    KernelHandle section_;
    std::string problem_;
    DWORD error_ = NO_ERROR;
};

} // namespace ostrivan::windows
