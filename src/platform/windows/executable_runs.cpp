#include "platform/windows/executable_runs.h"

#include "platform/windows/command_text.h"
#include "platform/windows/win32.h"
#include "platform/windows/windows_process_api.h"
#include "process/process_identity.h"
#include "process/process_probes.h"
#include "process/process_snapshot.h"

#include <new>

namespace ostrivan::windows {

bool WaitForOtherRunsOfThisExecutable(DWORD milliseconds) {
    try {
        WindowsProcessApi api;
        const std::string name = NormalizeImageName(BaseName(Narrow(ExecutablePath())));
        const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
        for (const ProcessEntry& entry : TakeProcessSnapshot(api)) {
            if (entry.ProcessId == ::GetCurrentProcessId() || entry.Name != name) {
                continue;
            }
            const ULONGLONG now = ::GetTickCount64();
            const auto left = static_cast<std::uint32_t>(now < deadline ? deadline - now : 0);
            const auto run = IdentifyProcess(api, entry.ProcessId);
            if (run && !WaitForProcessEnd(api, *run, left)) {
                return false;
            }
        }
        return true;
    } catch (const Failure&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace ostrivan::windows
