// svctool: drives a Windows service and its window from outside, for the Wine test.
//
//   svctool start SERVICE                      StartService
//   svctool control SERVICE CODE               ControlService with any code
//   svctool query SERVICE                      prints "STATE PID" (MISSING when not installed)
//   svctool wait SERVICE STATE TIMEOUT_MS      polls until the state is reached
//   svctool controls SERVICE                   prints the accepted controls ("0x107")
//   svctool label CAPTION                      prints the window's status label
//   svctool waitlabel CAPTION TEXT TIMEOUT_MS  polls until the label reads TEXT
//   svctool tick CAPTION                       sends the form's timer message; returns when
//                                              the window has handled it
//   svctool close CAPTION                      asks the window to close (WM_CLOSE)
//   svctool exists CAPTION                     exit 0 when the window is there
//   svctool box TIMEOUT_MS [BUTTON]            waits for a message box, prints its title and
//                                              text, and clicks OK, Yes or No when given
//   svctool procs [NAME]                       prints "PID PARENT NAME PATH" for each process
//   svctool waitcount NAME COUNT TIMEOUT_MS    polls until COUNT processes carry NAME
//   svctool spawn PATH [ARGUMENTS]             starts a program, prints its id
//   svctool kill PID [CODE]                    TerminateProcess
//   svctool waitexit PID TIMEOUT_MS            waits for the process, prints its exit code
//   svctool version FILE                       prints the version resource's fields
//   svctool message FILE ID TEXT               formats message ID of FILE's table with TEXT
//   svctool hold FILE MS                       holds FILE open MS ms, shared as exporters share it
//
// Window commands look on the window station of Wine's services first ("-s STATION" as the
// first arguments chooses another; "-s -" keeps the tool's own).
// Exit status: 0 done, 1 failed or timed out, 2 usage.
#include <windows.h>

#include <tlhelp32.h>

#include "platform/windows/service_state_name.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr DWORD kPollMs = 100;
constexpr UINT_PTR kFormTimerId = 1;
constexpr int kBoxTextId = 0xFFFF;

std::wstring Widen(const std::string& text) {
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 1 ? length - 1 : 0), L'\0');
    if (length > 1) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), length);
    }
    return wide;
}

std::string Narrow(const std::wstring& text) {
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 1 ? length - 1 : 0), '\0');
    if (length > 1) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(), length, nullptr,
                              nullptr);
    }
    return narrow;
}

int Fail(const char* what) {
    std::fprintf(stderr, "svctool: %s failed: error %lu\n", what, ::GetLastError());
    return kFailed;
}

DWORD Number(const char* text) {
    return static_cast<DWORD>(std::strtoul(text, nullptr, 0));
}

// Deadline arithmetic on the tick count, which wraps.
class Deadline {
public:
    explicit Deadline(DWORD milliseconds) : start_(::GetTickCount()), length_(milliseconds) {}
    bool Passed() const { return ::GetTickCount() - start_ >= length_; }

private:
    DWORD start_;
    DWORD length_;
};

struct ServiceManager {
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
    ~ServiceManager() {
        if (service != nullptr) {
            ::CloseServiceHandle(service);
        }
        if (manager != nullptr) {
            ::CloseServiceHandle(manager);
        }
    }
    bool Open(const std::string& name, DWORD access) {
        manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (manager == nullptr) {
            return false;
        }
        service = ::OpenServiceW(manager, Widen(name).c_str(), access);
        return service != nullptr;
    }
};

constexpr auto StateName = ostrivan::windows::ServiceStateName;

// "STATE PID", or "MISSING 0" when the service is not installed.
std::string QueryState(const std::string& name) {
    ServiceManager scm;
    if (!scm.Open(name, SERVICE_QUERY_STATUS)) {
        return "MISSING 0";
    }
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(scm.service, SC_STATUS_PROCESS_INFO,
                                reinterpret_cast<BYTE*>(&status), sizeof(status), &needed)) {
        return "UNKNOWN 0";
    }
    return std::string(StateName(status.dwCurrentState)) + " " + std::to_string(status.dwProcessId);
}

int Controls(const std::string& name) {
    ServiceManager scm;
    SERVICE_STATUS status{};
    if (!scm.Open(name, SERVICE_QUERY_STATUS) || !::QueryServiceStatus(scm.service, &status)) {
        return Fail("QueryServiceStatus");
    }
    std::printf("0x%lx\n", status.dwControlsAccepted);
    return kDone;
}

int Start(const std::string& name) {
    ServiceManager scm;
    if (!scm.Open(name, SERVICE_START)) {
        return Fail("OpenService");
    }
    if (!::StartServiceW(scm.service, 0, nullptr)) {
        return Fail("StartService");
    }
    return kDone;
}

int Control(const std::string& name, DWORD code) {
    ServiceManager scm;
    if (!scm.Open(name, SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE |
                            SERVICE_USER_DEFINED_CONTROL | SERVICE_QUERY_STATUS)) {
        return Fail("OpenService");
    }
    SERVICE_STATUS status{};
    if (!::ControlService(scm.service, code, &status)) {
        return Fail("ControlService");
    }
    std::printf("%s\n", StateName(status.dwCurrentState));
    return kDone;
}

int WaitState(const std::string& name, const std::string& wanted, DWORD timeout) {
    const Deadline deadline(timeout);
    for (;;) {
        const std::string state = QueryState(name);
        if (state.substr(0, state.find(' ')) == wanted) {
            std::printf("%s\n", state.c_str());
            return kDone;
        }
        if (deadline.Passed()) {
            std::printf("%s\n", state.c_str());
            std::fprintf(stderr, "svctool: %s did not reach %s\n", name.c_str(), wanted.c_str());
            return kFailed;
        }
        ::Sleep(kPollMs);
    }
}

// Joins the window station and desktop where the service's windows live.
void EnterDesktop(const std::wstring& station) {
    if (station == L"-") {
        return;
    }
    HWINSTA handle = ::OpenWindowStationW(station.c_str(), FALSE, MAXIMUM_ALLOWED);
    if (handle == nullptr || !::SetProcessWindowStation(handle)) {
        return;
    }
    HDESK desktop = ::OpenDesktopW(L"Default", 0, FALSE, MAXIMUM_ALLOWED);
    if (desktop != nullptr) {
        ::SetThreadDesktop(desktop);
    }
}

HWND FindForm(const std::string& caption) {
    return ::FindWindowW(nullptr, Widen(caption).c_str());
}

// For commands that act on the window: a window being created or a busy desktop gets a
// few seconds.
HWND AwaitForm(const std::string& caption) {
    const Deadline deadline(10000);
    HWND form = nullptr;
    while ((form = FindForm(caption)) == nullptr && !deadline.Passed()) {
        ::Sleep(kPollMs);
    }
    return form;
}

std::string WindowText(HWND window) {
    wchar_t text[1024] = {};
    DWORD_PTR copied = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                               SMTO_ABORTIFHUNG, 5000, &copied)) {
        return {};
    }
    return Narrow(std::wstring(text, copied));
}

bool ReadLabel(const std::string& caption, std::string& label) {
    HWND form = FindForm(caption);
    if (form == nullptr) {
        return false;
    }
    HWND control = ::FindWindowExW(form, nullptr, L"Static", nullptr);
    if (control == nullptr) {
        return false;
    }
    label = WindowText(control);
    return true;
}

int Label(const std::string& caption) {
    std::string label;
    if (!ReadLabel(caption, label)) {
        std::fprintf(stderr, "svctool: no window \"%s\" with a label\n", caption.c_str());
        return kFailed;
    }
    std::printf("%s\n", label.c_str());
    return kDone;
}

int WaitLabel(const std::string& caption, const std::string& wanted, DWORD timeout) {
    const Deadline deadline(timeout);
    std::string label = "(no window)";
    for (;;) {
        if (ReadLabel(caption, label) && label == wanted) {
            std::printf("%s\n", label.c_str());
            return kDone;
        }
        if (deadline.Passed()) {
            std::printf("%s\n", label.c_str());
            std::fprintf(stderr, "svctool: the label never read \"%s\"\n", wanted.c_str());
            return kFailed;
        }
        ::Sleep(kPollMs);
    }
}

int Tick(const std::string& caption) {
    HWND form = AwaitForm(caption);
    if (form == nullptr) {
        return Fail("FindWindow");
    }
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(form, WM_TIMER, kFormTimerId, 0, SMTO_NORMAL, 120000, &result)) {
        return Fail("SendMessageTimeout(WM_TIMER)");
    }
    return kDone;
}

int Close(const std::string& caption) {
    HWND form = AwaitForm(caption);
    if (form == nullptr) {
        return Fail("FindWindow");
    }
    if (!::PostMessageW(form, WM_CLOSE, 0, 0)) {
        return Fail("PostMessage");
    }
    return kDone;
}

int Box(DWORD timeout, const std::string& button) {
    const Deadline deadline(timeout);
    HWND box = nullptr;
    while ((box = ::FindWindowW(L"#32770", nullptr)) == nullptr) {
        if (deadline.Passed()) {
            std::fprintf(stderr, "svctool: no message box\n");
            return kFailed;
        }
        ::Sleep(kPollMs);
    }
    // The dialog's window exists before its text is filled in; it shows once it is whole.
    std::string text;
    for (;;) {
        if (HWND control = ::GetDlgItem(box, kBoxTextId); control != nullptr) {
            text = WindowText(control);
        }
        if ((::IsWindowVisible(box) && !text.empty()) || deadline.Passed()) {
            break;
        }
        ::Sleep(kPollMs);
    }
    std::printf("%s|%s\n", WindowText(box).c_str(), text.c_str());
    if (button.empty()) {
        return kDone;
    }
    const int id = button == "OK" ? IDOK : button == "Yes" ? IDYES : button == "No" ? IDNO : 0;
    HWND control = id != 0 ? ::GetDlgItem(box, id) : nullptr;
    if (control == nullptr) {
        std::fprintf(stderr, "svctool: the box has no %s button\n", button.c_str());
        return kFailed;
    }
    ::SendMessageW(control, BM_CLICK, 0, 0);
    return kDone;
}

struct Process {
    DWORD id;
    DWORD parent;
    std::string name;
};

std::vector<Process> Processes() {
    std::vector<Process> found;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return found;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
         more = ::Process32NextW(snapshot, &entry)) {
        found.push_back({entry.th32ProcessID, entry.th32ParentProcessID, Narrow(entry.szExeFile)});
    }
    ::CloseHandle(snapshot);
    return found;
}

std::string ImagePath(DWORD id) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) {
        return "?";
    }
    wchar_t path[MAX_PATH * 4] = {};
    DWORD length = std::size(path);
    const BOOL read = ::QueryFullProcessImageNameW(process, 0, path, &length);
    ::CloseHandle(process);
    return read ? Narrow(std::wstring(path, length)) : "?";
}

bool SameName(const std::string& a, const std::string& b) {
    return ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) ==
           CSTR_EQUAL;
}

int Procs(const std::string& name) {
    for (const Process& process : Processes()) {
        if (name.empty() || SameName(process.name, name)) {
            std::printf("%lu %lu %s %s\n", process.id, process.parent, process.name.c_str(),
                        ImagePath(process.id).c_str());
        }
    }
    return kDone;
}

int WaitCount(const std::string& name, DWORD count, DWORD timeout) {
    const Deadline deadline(timeout);
    for (;;) {
        DWORD found = 0;
        for (const Process& process : Processes()) {
            found += SameName(process.name, name) ? 1 : 0;
        }
        if (found == count) {
            return kDone;
        }
        if (deadline.Passed()) {
            std::fprintf(stderr, "svctool: %lu processes named %s, not %lu\n", found, name.c_str(),
                         count);
            return kFailed;
        }
        ::Sleep(kPollMs);
    }
}

int Spawn(const std::string& path, const std::string& arguments) {
    std::wstring commandLine = L"\"" + Widen(path) + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + Widen(arguments);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(Widen(path).c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          DETACHED_PROCESS, nullptr, nullptr, &startup, &started)) {
        return Fail("CreateProcess");
    }
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    std::printf("%lu\n", started.dwProcessId);
    return kDone;
}

int Kill(DWORD id, DWORD code) {
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, id);
    if (process == nullptr) {
        return Fail("OpenProcess");
    }
    const BOOL done = ::TerminateProcess(process, code);
    ::CloseHandle(process);
    return done ? kDone : Fail("TerminateProcess");
}

int WaitExit(DWORD id, DWORD timeout) {
    HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) {
        return Fail("OpenProcess");
    }
    const DWORD waited = ::WaitForSingleObject(process, timeout);
    DWORD code = 0;
    const BOOL read = ::GetExitCodeProcess(process, &code);
    ::CloseHandle(process);
    if (waited != WAIT_OBJECT_0 || !read) {
        std::fprintf(stderr, "svctool: process %lu still runs\n", id);
        return kFailed;
    }
    std::printf("%lu\n", code);
    return kDone;
}

int Version(const std::string& file) {
    const std::wstring path = Widen(file);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) {
        return Fail("GetFileVersionInfoSize");
    }
    std::vector<BYTE> data(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data())) {
        return Fail("GetFileVersionInfo");
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
        fixed != nullptr) {
        std::printf("FILEVERSION %u.%u.%u.%u\n", unsigned{HIWORD(fixed->dwFileVersionMS)},
                    unsigned{LOWORD(fixed->dwFileVersionMS)},
                    unsigned{HIWORD(fixed->dwFileVersionLS)},
                    unsigned{LOWORD(fixed->dwFileVersionLS)});
    }
    for (const wchar_t* field : {L"FileVersion", L"ProductVersion", L"InternalName",
                                 L"OriginalFilename", L"ProductName"}) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + field;
        wchar_t* value = nullptr;
        if (::VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value),
                             &length) &&
            value != nullptr) {
            std::printf("%s=%s\n", Narrow(field).c_str(), Narrow(value).c_str());
        }
    }
    return kDone;
}

int Message(const std::string& file, DWORD id, const std::string& insert) {
    HMODULE module = ::LoadLibraryExW(Widen(file).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        return Fail("LoadLibraryEx");
    }
    const std::wstring wideInsert = Widen(insert);
    DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(wideInsert.c_str())};
    wchar_t text[2048] = {};
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, id,
                         MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, std::size(text),
                         reinterpret_cast<va_list*>(arguments));
    ::FreeLibrary(module);
    if (length == 0) {
        return Fail("FormatMessage");
    }
    std::wstring message(text, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
        message.pop_back();
    }
    std::printf("%s\n", Narrow(message).c_str());
    return kDone;
}

int Hold(const std::string& file, DWORD milliseconds) {
    if (::CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE) {
        return Fail("CreateFile");
    }
    std::printf("held\n");
    ::Sleep(milliseconds);
    return kDone; // the handle closes with the process
}

int Usage() {
    std::fprintf(stderr, "usage: svctool [-s STATION] COMMAND ARGUMENTS (see the source)\n");
    return kUsage;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::wstring station = L"__wineservice_winstation";
    if (args.size() >= 2 && args[0] == "-s") {
        station = Widen(args[1]);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) {
        return Usage();
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::string& command = args[0];
    const std::size_t n = args.size();
    auto rest = [&](std::size_t from) {
        std::string joined;
        for (std::size_t i = from; i < n; ++i) {
            joined += (joined.empty() ? "" : " ") + args[i];
        }
        return joined;
    };

    if (command == "start" && n == 2) {
        return Start(args[1]);
    }
    if (command == "control" && n == 3) {
        return Control(args[1], Number(args[2].c_str()));
    }
    if (command == "query" && n == 2) {
        const std::string state = QueryState(args[1]);
        std::printf("%s\n", state.c_str());
        return state.rfind("MISSING", 0) == 0 ? kFailed : kDone;
    }
    if (command == "controls" && n == 2) {
        return Controls(args[1]);
    }
    if (command == "wait" && n == 4) {
        return WaitState(args[1], args[2], Number(args[3].c_str()));
    }
    if (command == "procs" && n <= 2) {
        return Procs(n == 2 ? args[1] : std::string());
    }
    if (command == "waitcount" && n == 4) {
        return WaitCount(args[1], Number(args[2].c_str()), Number(args[3].c_str()));
    }
    if (command == "spawn" && n >= 2) {
        return Spawn(args[1], rest(2));
    }
    if (command == "kill" && (n == 2 || n == 3)) {
        return Kill(Number(args[1].c_str()), n == 3 ? Number(args[2].c_str()) : 1);
    }
    if (command == "waitexit" && n == 3) {
        return WaitExit(Number(args[1].c_str()), Number(args[2].c_str()));
    }
    if (command == "version" && n == 2) {
        return Version(args[1]);
    }
    if (command == "hold" && n == 3) {
        return Hold(args[1], Number(args[2].c_str()));
    }
    if (command == "message" && n >= 3) {
        return Message(args[1], Number(args[2].c_str()), rest(3));
    }

    EnterDesktop(station);
    if (command == "label" && n == 2) {
        return Label(args[1]);
    }
    if (command == "waitlabel" && n == 4) {
        return WaitLabel(args[1], args[2], Number(args[3].c_str()));
    }
    if (command == "tick" && n == 2) {
        return Tick(args[1]);
    }
    if (command == "close" && n == 2) {
        return Close(args[1]);
    }
    if (command == "exists" && n == 2) {
        return FindForm(args[1]) != nullptr ? kDone : kFailed;
    }
    if (command == "box" && (n == 2 || n == 3)) {
        return Box(Number(args[1].c_str()), n == 3 ? args[2] : std::string());
    }
    return Usage();
}
