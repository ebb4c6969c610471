#pragma once

// The Windows headers and the few helpers every file of this platform uses: owners of
// the system's handles, text conversion and the failure of a system call.

#include <windows.h>

#include "platform/failure.h"

#include <string>
#include <string_view>
#include <utility>

namespace ostrivan::windows {

// Owns one handle; Close is the call that releases it.
template <class T, auto Close, T None> class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(T handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, None)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.handle_, None));
        }
        return *this;
    }
    ~UniqueHandle() { Reset(None); }

    T Get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != None; }
    void Reset(T handle) noexcept {
        if (handle_ != None) {
            Close(handle_);
        }
        handle_ = handle;
    }

private:
    T handle_ = None;
};

inline void CloseKernelHandle(HANDLE handle) {
    ::CloseHandle(handle);
}
inline void CloseServiceManagerHandle(SC_HANDLE handle) {
    ::CloseServiceHandle(handle);
}
inline void CloseRegistryKey(HKEY key) {
    ::RegCloseKey(key);
}
inline void CloseEventSource(HANDLE source) {
    ::DeregisterEventSource(source);
}
inline void DeleteGdiObject(HFONT font) {
    ::DeleteObject(font);
}

using KernelHandle = UniqueHandle<HANDLE, CloseKernelHandle, nullptr>;
using ServiceManagerHandle = UniqueHandle<SC_HANDLE, CloseServiceManagerHandle, nullptr>;
using RegistryKey = UniqueHandle<HKEY, CloseRegistryKey, nullptr>;
using EventSourceHandle = UniqueHandle<HANDLE, CloseEventSource, nullptr>;
using FontHandle = UniqueHandle<HFONT, DeleteGdiObject, nullptr>;

std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

// The system's own description of an error number, without the line break it ends with.
std::string ErrorText(DWORD error);

// A Failure carrying the error number and the system's description, with what failed.
Failure SystemFailure(DWORD error, std::string_view what);
[[noreturn]] void RaiseLastError(std::string_view what);

// "[number] description", as the form's error reports read, for the platform's own.
std::string ErrorReportText(const Failure& failure);

// The full path of the running executable.
std::wstring ExecutablePath();

} // namespace ostrivan::windows
