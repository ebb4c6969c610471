#include "platform/windows/instance_lock.h"

namespace ostrivan::windows {
namespace {

// The holder writes its id a moment after it made the section.
constexpr int kPidReadAttempts = 100;
constexpr DWORD kPidReadPause = 10;

class SectionView {
public:
    SectionView(HANDLE section, DWORD access)
        : view_(::MapViewOfFile(section, access, 0, 0, sizeof(LONG))) {}
    SectionView(const SectionView&) = delete;
    SectionView& operator=(const SectionView&) = delete;
    ~SectionView() {
        if (view_ != nullptr) {
            ::UnmapViewOfFile(view_);
        }
    }
    volatile LONG* Pid() const { return static_cast<volatile LONG*>(view_); }

private:
    void* view_;
};

// The holder's process id; 0 when it cannot be read.
DWORD HolderPid() {
    const KernelHandle section(::OpenFileMappingW(FILE_MAP_READ, FALSE, InstanceLock::kObjectName));
    const SectionView view(section.Get(), FILE_MAP_READ);
    for (int attempt = 0; view.Pid() != nullptr && attempt < kPidReadAttempts; ++attempt) {
        // A plain read: an interlocked one writes, and this view is read-only.
        if (const LONG pid = *view.Pid(); pid != 0) {
            return static_cast<DWORD>(pid);
        }
        ::Sleep(kPidReadPause);
    }
    return 0;
}

bool Exists() {
    const KernelHandle section(::OpenFileMappingW(FILE_MAP_READ, FALSE, InstanceLock::kObjectName));
    return section || ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

} // namespace

InstanceLock InstanceLock::Take() {
    InstanceLock lock;
    const std::string name = Narrow(kObjectName);
    SECURITY_ATTRIBUTES notInherited{sizeof notInherited, nullptr, FALSE};
    KernelHandle section(::CreateFileMappingW(INVALID_HANDLE_VALUE, &notInherited, PAGE_READWRITE,
                                              0, sizeof(LONG), kObjectName));
    const DWORD error = ::GetLastError();
    if (section && error != ERROR_ALREADY_EXISTS) {
        const SectionView view(section.Get(), FILE_MAP_WRITE);
        if (view.Pid() != nullptr) {
            ::InterlockedExchange(view.Pid(), static_cast<LONG>(::GetCurrentProcessId()));
        }
        lock.section_ = std::move(section);
        return lock;
    }
    // Refused access to a section that exists is another run too, of an account with more
    // rights than this one.
    if (section || Exists()) {
        const DWORD pid = HolderPid();
        lock.error_ = ERROR_SERVICE_ALREADY_RUNNING;
        lock.problem_ = "already running as " +
                        (pid != 0 ? "pid " + std::to_string(pid)
                                  : std::string("a process whose pid cannot be read")) +
                        " (it holds " + name + "): this run ends and touches no process";
        return lock;
    }
    lock.error_ = error;
    lock.problem_ = ErrorReportText(SystemFailure(error, "CreateFileMapping " + name)) +
                    ": the service cannot tell whether another run of it is on the machine, and "
                    "does not start";
    return lock;
}

} // namespace ostrivan::windows
