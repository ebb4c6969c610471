#pragma once

#include "platform/windows/win32.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace ostrivan::windows {

// The service's window: its caption, the status label Label1, the form's timer and the
// message loop of the thread that created it. Everything that happens to the form is an
// event raised here, on that thread, one at a time: an event that arrives while another
// one runs (or waits in a message box) waits its turn, and timer ticks never pile up.
class FormWindow {
public:
    using Event = std::function<void()>;

    // The form's timer's id, as WM_TIMER carries it.
    static constexpr UINT_PTR kTimerId = 1;
    static constexpr int kLabelId = 1001;
    static constexpr const wchar_t* kClassName = L"OstrivanServiceForm";

    // The timer runs from here on, as the form's timer runs from the creation of the form.
    FormWindow(const std::wstring& caption, std::uint32_t timerInterval, bool timerEnabled);
    ~FormWindow();
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    HWND Window() const { return window_.load(); }
    // False when the desktop refused a top-level window (no display) and the form lives in
    // a message-only window: its events still run, nothing can be seen.
    bool TopLevel() const { return topLevel_; }

    void SetLabel(const std::wstring& text);
    void SetTimerInterval(std::uint32_t milliseconds);
    void SetTimerEnabled(bool enabled);

    void OnTimer(Event handler) { timerHandler_ = std::move(handler); }
    void OnClose(Event handler) { closeHandler_ = std::move(handler); }

    // From any thread: raises `event` on the form's thread after the events before it.
    void Post(Event event);
    // On the form's thread: runs `event` now, or after the running one has returned.
    void Raise(Event event);
    // On the form's thread: once the running event has returned, drops what still waits,
    // destroys the window and ends the loop with `exitCode`.
    void Close(int exitCode);

    // The message loop; returns the exit code given to Close.
    int Run();

private:
    static constexpr UINT kPostedMessage = WM_APP + 1;

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Tick();
    void TakePosted();
    void LayOutLabel();
    void StartTimer();
    void StopTimer();
    void Finish();

    std::atomic<HWND> window_{nullptr};
    HWND label_ = nullptr;
    FontHandle font_;
    bool topLevel_ = false;
    std::uint32_t interval_;
    bool timerEnabled_;
    bool timerRunning_ = false;

    bool busy_ = false;
    bool tickWaiting_ = false;
    bool closing_ = false;
    bool finished_ = false;
    int exitCode_ = 0;
    std::deque<Event> waiting_;

    std::mutex postedMutex_;
    std::deque<Event> posted_;

    Event timerHandler_;
    Event closeHandler_;
};

} // namespace ostrivan::windows
