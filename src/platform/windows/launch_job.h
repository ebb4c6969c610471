#pragma once

#include "platform/windows/win32.h"

namespace ostrivan::windows {

// The job object every program the service launches is put in. The system ends all of
// them when the last handle to the job closes, that is when the service's process ends,
// however it ends: a crash or TerminateProcess leaves no suite behind for the next start.
class LaunchJob {
public:
    LaunchJob() = default;
    LaunchJob(const LaunchJob&) = delete;
    LaunchJob& operator=(const LaunchJob&) = delete;

    // Puts a process (created suspended, so that none of it runs outside) in the job,
    // creating the job on first use. False, with the reason for GetLastError, when it
    // cannot.
    bool Contain(HANDLE process);

private:
    bool Create();

    KernelHandle job_;
};

} // namespace ostrivan::windows
