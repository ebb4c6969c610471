// A stand-in for one of the suite's programs. It appends "<pid> <command line>" to
// standin.log beside itself, so that a test can see how and from where it was started,
// then sleeps until it is terminated.
//
// When a file named like the program with ".grow" added (vantorelle_manager.exe.grow)
// lies beside it, the first copy that finds it removes it and then holds the number of
// MiB the file names in its working set, as a manager that leaks would.
//
// With a file named like the program with ".window" added beside it, it runs a hidden window
// instead: WM_CLOSE ends it with the exit code the file holds, unless the file holds "ignore".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring ExecutablePath() {
    std::vector<wchar_t> buffer(32768);
    const DWORD length =
        ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::wstring(buffer.data(), length);
}

std::wstring FolderOf(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

void AppendLine(const std::wstring& file, const std::string& line) {
    HANDLE log = ::CreateFileW(file.c_str(), FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    ::WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(log);
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

// The MiB to hold, when this copy is the one that takes the grow file.
std::size_t TakeGrowRequest(const std::wstring& executable) {
    const std::wstring request = executable + L".grow";
    HANDLE file = ::CreateFileW(request.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    char text[32] = {};
    DWORD read = 0;
    ::ReadFile(file, text, sizeof(text) - 1, &read, nullptr);
    ::CloseHandle(file);
    return std::strtoul(text, nullptr, 10);
}

void Grow(std::size_t mebibytes) {
    const std::size_t bytes = mebibytes << 20;
    auto* memory = static_cast<volatile char*>(
        ::VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (memory == nullptr) {
        return;
    }
    for (std::size_t at = 0; at < bytes; at += 4096) {
        memory[at] = 1;
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::wstring executable = ExecutablePath();
    const std::size_t grow = TakeGrowRequest(executable);
    if (grow > 0) {
        Grow(grow);
    }
    AppendLine(FolderOf(executable) + L"\\standin.log",
               std::to_string(::GetCurrentProcessId()) + " " + Narrow(::GetCommandLineW()) +
                   (grow > 0 ? " [holding " + std::to_string(grow) + " MiB]" : "") + "\r\n");
    if (FILE* order = std::fopen((Narrow(executable) + ".window").c_str(), "r")) {
        int closeExitCode = -1; // "ignore" is no number
        std::fscanf(order, "%d", &closeExitCode);
        std::fclose(order);
        ::CreateWindowExW(0, L"STATIC", L"standin", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                          nullptr, nullptr);
        // Where no window can be made, no message comes, or the loop fails and it sleeps.
        for (MSG message; ::GetMessageW(&message, nullptr, 0, 0) > 0;) {
            if (message.message == WM_CLOSE && closeExitCode >= 0) {
                return closeExitCode;
            }
        }
    }
    ::Sleep(INFINITE);
    return 0;
}
