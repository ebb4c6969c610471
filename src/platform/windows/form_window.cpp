#include "platform/windows/form_window.h"

namespace ostrivan::windows {
namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 120;
constexpr int kLabelTop = 16;
constexpr int kLabelHeight = 40;
// Verdana bold 9.75 point, in tenths of a hundredth of a point per logical inch.
constexpr int kLabelPointsTimes100 = 975;

HINSTANCE Instance() {
    return ::GetModuleHandleW(nullptr);
}

void RegisterFormClass() {
    static const ATOM atom = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = ::DefWindowProcW;
        windowClass.hInstance = Instance();
        windowClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = FormWindow::kClassName;
        return ::RegisterClassExW(&windowClass);
    }();
    if (atom == 0) {
        RaiseLastError("RegisterClassEx");
    }
}

HFONT CreateLabelFont() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) {
        ::ReleaseDC(nullptr, screen);
    }
    const int height = -::MulDiv(kLabelPointsTimes100, dpi > 0 ? dpi : 96, 7200);
    return ::CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_SWISS, L"Verdana");
}

} // namespace

FormWindow::FormWindow(const std::wstring& caption, std::uint32_t timerInterval, bool timerEnabled)
    : interval_(timerInterval), timerEnabled_(timerEnabled) {
    RegisterFormClass();
    HWND window =
        ::CreateWindowExW(0, kClassName, caption.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                          CW_USEDEFAULT, kWidth, kHeight, nullptr, nullptr, Instance(), nullptr);
    topLevel_ = window != nullptr;
    if (window == nullptr) {
        // No desktop to draw on: the form's events still need their thread and loop.
        window = ::CreateWindowExW(0, kClassName, caption.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE,
                                   nullptr, Instance(), nullptr);
    }
    if (window == nullptr) {
        RaiseLastError("CreateWindowEx");
    }
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FormWindow::Procedure));
    window_.store(window);

    font_.Reset(CreateLabelFont());
    label_ = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0,
                               kLabelTop, kWidth, kLabelHeight, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLabelId)), Instance(),
                               nullptr);
    if (label_ != nullptr && font_) {
        ::SendMessageW(label_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
    }
    LayOutLabel();
    if (topLevel_) {
        ::ShowWindow(window, SW_SHOWNORMAL);
    }
    if (timerEnabled_) {
        StartTimer();
    }
}

FormWindow::~FormWindow() {
    HWND window = window_.exchange(nullptr);
    if (window != nullptr) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        ::DestroyWindow(window);
    }
}

void FormWindow::SetLabel(const std::wstring& text) {
    if (label_ != nullptr) {
        ::SetWindowTextW(label_, text.c_str());
    }
}

void FormWindow::SetTimerInterval(std::uint32_t milliseconds) {
    if (milliseconds == interval_) {
        return;
    }
    interval_ = milliseconds;
    if (timerEnabled_) {
        StartTimer();
    }
}

void FormWindow::SetTimerEnabled(bool enabled) {
    if (enabled == timerEnabled_) {
        return;
    }
    timerEnabled_ = enabled;
    if (enabled) {
        StartTimer();
    } else {
        StopTimer();
    }
}

void FormWindow::StartTimer() {
    HWND window = Window();
    // An interval of 0 stops the form's timer.
    if (window == nullptr || interval_ == 0) {
        StopTimer();
        return;
    }
    timerRunning_ = ::SetTimer(window, kTimerId, interval_, nullptr) != 0;
}

void FormWindow::StopTimer() {
    HWND window = Window();
    if (window != nullptr && timerRunning_) {
        ::KillTimer(window, kTimerId);
    }
    timerRunning_ = false;
}

void FormWindow::Post(Event event) {
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        posted_.push_back(std::move(event));
    }
    HWND window = Window();
    if (window != nullptr) {
        ::PostMessageW(window, kPostedMessage, 0, 0);
    }
}

void FormWindow::TakePosted() {
    std::deque<Event> taken;
    {
        std::lock_guard<std::mutex> lock(postedMutex_);
        taken.swap(posted_);
    }
    for (Event& event : taken) {
        Raise(std::move(event));
    }
}

void FormWindow::Raise(Event event) {
    if (closing_) {
        return;
    }
    if (busy_) {
        waiting_.push_back(std::move(event));
        return;
    }
    busy_ = true;
    event();
    while (!closing_ && !waiting_.empty()) {
        Event next = std::move(waiting_.front());
        waiting_.pop_front();
        next();
    }
    busy_ = false;
    if (closing_) {
        Finish();
    }
}

void FormWindow::Tick() {
    // A tick that comes while the timer is off (a stray or forged WM_TIMER) runs nothing.
    if (!timerEnabled_ || !timerHandler_) {
        return;
    }
    if (busy_) {
        if (!tickWaiting_) {
            tickWaiting_ = true;
            waiting_.push_back([this] {
                tickWaiting_ = false;
                if (timerEnabled_) {
                    timerHandler_();
                }
            });
        }
        return;
    }
    Raise(timerHandler_);
}

void FormWindow::Close(int exitCode) {
    if (closing_) {
        return;
    }
    closing_ = true;
    exitCode_ = exitCode;
    if (!busy_) {
        Finish();
    }
}

void FormWindow::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    waiting_.clear();
    StopTimer();
    HWND window = Window();
    if (window != nullptr) {
        ::DestroyWindow(window);
    } else {
        ::PostQuitMessage(exitCode_);
    }
}

int FormWindow::Run() {
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return exitCode_;
}

void FormWindow::LayOutLabel() {
    HWND window = Window();
    if (window == nullptr || label_ == nullptr || !topLevel_) {
        return;
    }
    RECT client{};
    ::GetClientRect(window, &client);
    ::MoveWindow(label_, 0, kLabelTop, client.right - client.left, kLabelHeight, TRUE);
}

LRESULT CALLBACK FormWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<FormWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    return self->Handle(window, message, wParam, lParam);
}

LRESULT FormWindow::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case kPostedMessage:
        TakePosted();
        return 0;
    case WM_TIMER:
        if (wParam == kTimerId) {
            Tick();
            return 0;
        }
        break;
    case WM_CLOSE:
        if (closeHandler_) {
            Raise(closeHandler_);
        }
        return 0;
    case WM_SIZE:
        LayOutLabel();
        break;
    case WM_DESTROY:
        window_.store(nullptr);
        timerRunning_ = false;
        ::PostQuitMessage(exitCode_);
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace ostrivan::windows
