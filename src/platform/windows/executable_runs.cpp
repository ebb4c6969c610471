#include "platform/windows/executable_runs.h"

#include "platform/windows/win32.h"

#include <tlhelp32.h>

#include <string>
#include <vector>

namespace ostrivan::windows {
namespace {

std::wstring FileNameOf(const std::wstring& path) {
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool SamePath(const std::wstring& left, const std::wstring& right) {
    return ::CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                  static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

// The process, open for waiting, when its image is `executable`; none otherwise.
KernelHandle OpenRunOf(const std::wstring& executable, DWORD processId) {
    KernelHandle process(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) {
        return process;
    }
    std::vector<wchar_t> image(32768);
    auto length = static_cast<DWORD>(image.size());
    if (!::QueryFullProcessImageNameW(process.Get(), 0, image.data(), &length) ||
        !SamePath(std::wstring(image.data(), length), executable)) {
        process.Reset(nullptr);
    }
    return process;
}

std::vector<KernelHandle> OtherRunsOf(const std::wstring& executable) {
    std::vector<KernelHandle> runs;
    const HANDLE table = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (table == INVALID_HANDLE_VALUE) {
        return runs;
    }
    const KernelHandle snapshot(table);
    const std::wstring name = FileNameOf(executable);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(table, &entry); more;
         more = ::Process32NextW(table, &entry)) {
        if (entry.th32ProcessID == ::GetCurrentProcessId() || !SamePath(entry.szExeFile, name)) {
            continue;
        }
        if (KernelHandle run = OpenRunOf(executable, entry.th32ProcessID)) {
            runs.push_back(std::move(run));
        }
    }
    return runs;
}

} // namespace

bool WaitForOtherRunsOfThisExecutable(DWORD milliseconds) {
    const std::vector<KernelHandle> runs = OtherRunsOf(ExecutablePath());
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (const KernelHandle& run : runs) {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (::WaitForSingleObject(run.Get(), left) != WAIT_OBJECT_0) {
            return false;
        }
    }
    return true;
}

} // namespace ostrivan::windows
