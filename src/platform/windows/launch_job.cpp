#include "platform/windows/launch_job.h"

#include <utility>

namespace ostrivan::windows {

bool LaunchJob::Contain(HANDLE process) {
    if (!job_ && !Create()) {
        return false;
    }
    return ::AssignProcessToJobObject(job_.Get(), process) != FALSE;
}

bool LaunchJob::Create() {
    KernelHandle job(::CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        return false;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                   sizeof(limits))) {
        const DWORD error = ::GetLastError();
        job.Reset(nullptr);
        ::SetLastError(error);
        return false;
    }
    job_ = std::move(job);
    return true;
}

} // namespace ostrivan::windows
