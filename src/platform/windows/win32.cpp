#include "platform/windows/win32.h"

#include <vector>

namespace ostrivan::windows {

std::wstring Widen(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    }
    return wide;
}

std::string Narrow(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr,
                              nullptr);
    }
    return narrow;
}

std::string ErrorText(DWORD error) {
    wchar_t buffer[512] = {};
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                         0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    std::wstring text(buffer, length);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
        text.pop_back();
    }
    if (text.empty()) {
        return "System error " + std::to_string(error);
    }
    return Narrow(text);
}

Failure SystemFailure(DWORD error, std::string_view what) {
    std::string description = ErrorText(error);
    description += " (";
    description += what;
    description += ")";
    return Failure(static_cast<std::int32_t>(error), std::move(description));
}

void RaiseLastError(std::string_view what) {
    throw SystemFailure(::GetLastError(), what);
}

std::string ErrorReportText(const Failure& failure) {
    std::string text = "[";
    text += std::to_string(failure.Number());
    text += "] ";
    text += failure.Description();
    return text;
}

std::wstring ExecutablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            RaiseLastError("GetModuleFileName");
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace ostrivan::windows
