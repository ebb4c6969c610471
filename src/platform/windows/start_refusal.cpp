#include "platform/windows/start_refusal.h"

#include "platform/windows/windows_service_host.h"

#include <atomic>

namespace ostrivan::windows {
namespace {

// Read by the manager's thread that runs the service's main.
std::atomic<DWORD> refusal{NO_ERROR};

DWORD WINAPI IgnoreControls(DWORD, DWORD, LPVOID, LPVOID) {
    return ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI RefusingServiceMain(DWORD, LPWSTR*) {
    const SERVICE_STATUS_HANDLE handle =
        ::RegisterServiceCtrlHandlerExW(WindowsServiceHost::kServiceName, &IgnoreControls, nullptr);
    if (handle == nullptr) {
        return;
    }
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwWin32ExitCode = refusal.load();
    ::SetServiceStatus(handle, &status);
}

} // namespace

void RefuseServiceStart(DWORD error) {
    refusal.store(error);
    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<LPWSTR>(WindowsServiceHost::kServiceName), &RefusingServiceMain},
        {nullptr, nullptr},
    };
    // Returns once the service has reported that it stopped; at once with
    // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT when the manager did not start this process.
    ::StartServiceCtrlDispatcherW(table);
}

} // namespace ostrivan::windows
