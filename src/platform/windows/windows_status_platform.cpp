#include "platform/windows/windows_status_platform.h"

#include "platform/windows/clocks.h"
#include "platform/windows/service_state_name.h"
#include "platform/windows/win32.h"
#include "platform/windows/windows_service_host.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <memory>

namespace ostrivan::windows {
namespace {

constexpr DWORD kMaxStatusSize = 1 << 20;

// SYSTEM and the administrators own and change it; signed-in accounts and services read it.
constexpr const char* kFolderSecurity = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;AU)";

struct LocalMemory {
    void operator()(void* memory) const { ::LocalFree(memory); }
};
using SecurityDescriptor = std::unique_ptr<void, LocalMemory>;

SecurityDescriptor FolderDescriptor() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(kFolderSecurity, SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
        RaiseLastError("The status folder's permissions");
    }
    return SecurityDescriptor(descriptor);
}

std::string CommonAppData() {
    char path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path))) {
        return "C:\\ProgramData";
    }
    return path;
}

// A folder that existed before is taken over: whoever made it keeps no right to change it.
void SecureFolder(const std::string& folder) {
    const SecurityDescriptor descriptor = FolderDescriptor();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    if (::CreateDirectoryA(folder.c_str(), &attributes)) {
        return;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) {
        RaiseLastError("Cannot create " + folder);
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ::GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted);
    ::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted);
    const DWORD error =
        ::SetNamedSecurityInfoA(const_cast<char*>(folder.c_str()), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                    PROTECTED_DACL_SECURITY_INFORMATION,
                                owner, nullptr, dacl, nullptr);
    if (error != ERROR_SUCCESS) {
        throw SystemFailure(error, "Cannot secure " + folder);
    }
}

// Empty when the file cannot be opened.
KernelHandle OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    HANDLE file = ::CreateFileA(path.c_str(), access, share, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    return KernelHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

void WriteWhole(HANDLE file, const std::string& content, const std::string& path) {
    DWORD written = 0;
    if (!::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) ||
        written != content.size()) {
        RaiseLastError("Cannot write " + path);
    }
}

// A name no other writer uses: another process's status command, or another thread.
std::string TemporaryNameFor(const std::string& path) {
    static std::uint32_t count = 0;
    return path + "." + std::to_string(::GetCurrentProcessId()) + "." + std::to_string(++count) +
           ".new";
}

// An exporter holds the old file open for reading, shared for reading and writing but not
// for deletion, and no rename can replace it then. The file is written in place through
// those same sharing flags, in one write: text shorter than the old file is padded with
// line ends, which the status file's JSON and the metrics' text format both pass over, so
// that no reader finds the old file's tail behind the new text.
bool OverwriteInPlace(const std::string& path, std::string content) {
    const KernelHandle file = OpenFile(path, GENERIC_WRITE | GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.Get(), &size)) {
        return false;
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > content.size()) {
        content.append(static_cast<std::size_t>(size.QuadPart) - content.size(), '\n');
    }
    WriteWhole(file.Get(), content, path);
    return true;
}

// A new file beside the old, then renamed over it: a reader sees the one or the other.
// Written through to the disk first, so that a crash of the machine after the rename does
// not leave an empty file; UTF-8 as it comes, without a byte-order mark.
void ReplaceFile(const std::string& path, const std::string& content) {
    const std::string temporary = TemporaryNameFor(path);
    {
        const KernelHandle file = OpenFile(temporary, GENERIC_WRITE, 0, CREATE_NEW);
        if (!file) {
            RaiseLastError("Cannot write " + temporary);
        }
        try {
            WriteWhole(file.Get(), content, temporary);
            if (!::FlushFileBuffers(file.Get())) {
                RaiseLastError("Cannot write " + temporary);
            }
        } catch (const Failure&) {
            ::DeleteFileA(temporary.c_str());
            throw;
        }
    }
    if (::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return;
    }
    const DWORD error = ::GetLastError();
    ::DeleteFileA(temporary.c_str());
    const bool heldOpen = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!heldOpen || !OverwriteInPlace(path, content)) {
        throw SystemFailure(error, "Cannot replace " + path);
    }
}

ServiceView ViewOf(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return ServiceView::Stopped;
    case SERVICE_PAUSED:
    case SERVICE_PAUSE_PENDING:
        return ServiceView::Paused;
    default:
        return ServiceView::Running;
    }
}

std::string WindowsLines(const std::string& text) {
    std::string lines;
    for (const char c : text) {
        lines += c == '\n' ? "\r\n" : std::string(1, c);
    }
    return lines;
}

} // namespace

WindowsStatusPlatform::WindowsStatusPlatform() : folder_(CommonAppData() + "\\Ostrivan") {}

std::int64_t WindowsStatusPlatform::UtcNow() {
    return UtcMilliseconds();
}

std::optional<std::int64_t> WindowsStatusPlatform::CreationTimeUtc(std::uint64_t creationTime) {
    return FileTimeToUnixSeconds(creationTime);
}

ProcessId WindowsStatusPlatform::OwnProcessId() {
    return ::GetCurrentProcessId();
}

bool WindowsStatusPlatform::HasStatusFolder() {
    if (!secured_) {
        SecureFolder(folder_);
        secured_ = true;
    }
    return true;
}

void WindowsStatusPlatform::Publish(const std::string& status, const std::string& metrics) {
    ReplaceFile(StatusPath(), status);
    ReplaceFile(folder_ + "\\ostrivan.prom", metrics);
}

std::optional<std::string> WindowsStatusPlatform::ReadStatus() {
    // Shared in every way, so that the service can replace the file while it is read.
    const KernelHandle file =
        OpenFile(StatusPath(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                 OPEN_EXISTING);
    if (!file) {
        return std::nullopt;
    }
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        content.append(buffer, got);
        if (content.size() > kMaxStatusSize) {
            return std::nullopt;
        }
    }
    return content;
}

ServiceManagerView WindowsStatusPlatform::QueryService() {
    ServiceManagerView view;
    const ServiceManagerHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        view.detail = "service control manager: " + ErrorText(::GetLastError());
        return view;
    }
    const ServiceManagerHandle service(
        ::OpenServiceW(manager.Get(), WindowsServiceHost::kServiceName, SERVICE_QUERY_STATUS));
    if (!service) {
        const DWORD error = ::GetLastError();
        view.state = error == ERROR_SERVICE_DOES_NOT_EXIST ? ServiceView::NotInstalled
                                                           : ServiceView::Unknown;
        view.detail = "service control manager: " + ErrorText(error);
        return view;
    }
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                                reinterpret_cast<BYTE*>(&status), sizeof status, &needed)) {
        view.detail = "service control manager: " + ErrorText(::GetLastError());
        return view;
    }
    view.state = ViewOf(status.dwCurrentState);
    view.pid = status.dwProcessId;
    view.detail =
        std::string("service control manager: ") + ServiceStateName(status.dwCurrentState);
    return view;
}

void WindowsStatusPlatform::Print(const std::string& text) {
    const std::string lines = WindowsLines(text);
    // Redirected by whoever started this program: its handles lead to a file or a pipe.
    HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    KernelHandle console;
    if (output == nullptr || output == INVALID_HANDLE_VALUE) {
        // A program of the GUI subsystem has no console of its own: borrow its starter's.
        if (!::AttachConsole(ATTACH_PARENT_PROCESS)) {
            return;
        }
        console =
            OpenFile("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
        if (!console) {
            return;
        }
        output = console.Get();
    }
    DWORD written = 0;
    ::WriteFile(output, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
}

} // namespace ostrivan::windows
