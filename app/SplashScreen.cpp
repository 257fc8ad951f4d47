#include "app/SplashScreen.h"
#include "framework/Image.h"
#include <commctrl.h>
#include <gdiplus.h>
#include <process.h>
#include <memory>

namespace {

constexpr wchar_t kClassName[] = L"SplashWnd";
constexpr DWORD kStartWaitMs = 5000;
constexpr DWORD kEndWaitMs = 9000;
constexpr DWORD kKilledExitCode = 2222;
constexpr UINT kStepMs = 1000;

// Position messages carry the new caption as a heap string owned by whoever holds the message.
using CaptionCopy = std::unique_ptr<std::wstring>;
CaptionCopy TakeCaption(LPARAM lParam) { return CaptionCopy(reinterpret_cast<std::wstring*>(lParam)); }

}  // namespace

WPARAM PackSplashSteps(int from, int to) { return WPARAM(to) * 65536 + (WPARAM(from) & 0xFFFF); }

SplashSteps UnpackSplashSteps(WPARAM packed, LPARAM steps) {
    int from = LOWORD(packed), to = HIWORD(packed);
    if (steps <= 0) return {to, 0, 0};
    return {from, (to - from) / int(steps), int(steps)};
}

POINT PlaceSplash(const RECT* monitor, const RECT& workArea, SIZE size) {
    const RECT& r = monitor ? *monitor : workArea;
    return {(r.left + r.right - size.cx) / 2, (r.top + r.bottom - size.cy) / 2};
}

POINT PlaceSplashNearCursor(SIZE size) {
    POINT cursor{};
    ::GetCursorPos(&cursor);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    bool haveMonitor = ::GetMonitorInfoW(::MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &info);
    RECT workArea{};
    if (!haveMonitor) ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    return PlaceSplash(haveMonitor ? &info.rcMonitor : nullptr, workArea, size);
}

Gdiplus::Image* LoadSplashImage(const wchar_t* path) {
    if (!MayDecodePictureFile(path)) return nullptr;
    std::unique_ptr<Gdiplus::Image> image(Gdiplus::Image::FromFile(path));
    if (!image || image->GetLastStatus() != Gdiplus::Ok) return nullptr;
    return image.release();
}

SplashScreen::SplashScreen(HWND parentWindow) : parent(parentWindow) {}

SplashScreen::~SplashScreen() {
    Hide();
    delete image;
}

void SplashScreen::SetImage(Gdiplus::Image* source) {
    if (image || !source) return;
    image = source->Clone();
}

void SplashScreen::SetTitle(const std::wstring& text) { title = text; }

void SplashScreen::Show() {
    if (thread) return;
    startEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    unsigned id = 0;
    thread = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, ThreadProc, this, 0, &id));
    threadId = id;
    if (!thread) {
        ::CloseHandle(startEvent);
        startEvent = nullptr;
        ::OutputDebugStringW(L"Error starting SplashThread\n");
    } else if (::WaitForSingleObject(startEvent, kStartWaitMs) == WAIT_TIMEOUT) {
        ::OutputDebugStringW(L"Error starting SplashThread\n");
    }
}

void SplashScreen::Hide() {
    if (!thread) return;
    ::PostThreadMessageW(threadId, WM_QUIT, 0, 0);
    if (::WaitForSingleObject(thread, kEndWaitMs) == WAIT_TIMEOUT)
        ::TerminateThread(thread, kKilledExitCode);
    ::CloseHandle(thread);
    ::CloseHandle(startEvent);
    thread = nullptr;
    startEvent = nullptr;
    threadId = 0;  // ids are reused: nothing may be posted to another thread by mistake
}

void SplashScreen::SetProgress(int position, const std::wstring& text) {
    CaptionCopy copy(new std::wstring(text));
    if (::PostThreadMessageW(threadId, PBM_SETPOS, WPARAM(position), reinterpret_cast<LPARAM>(copy.get())))
        copy.release();  // the splash thread owns it now
}

void SplashScreen::AnimateProgress(int from, int to, int steps) {
    ::PostThreadMessageW(threadId, PBM_SETSTEP, PackSplashSteps(from, to), LPARAM(steps));
}

unsigned __stdcall SplashScreen::ThreadProc(void* param) {
    auto* self = static_cast<SplashScreen*>(param);
    if (!self->image) return 0;

    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_APPSTARTING);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.hIcon = ::LoadIconW(instance, IDI_APPLICATION);  // the program has none: no icon
    wc.lpszClassName = kClassName;
    if (!::RegisterClassW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        ::OutputDebugStringW(L"Unable to register class SplashWnd\n");
        return 0;
    }

    SIZE size{LONG(self->image->GetWidth()), LONG(self->image->GetHeight())};
    POINT at = PlaceSplashNearCursor(size);

    // Without a title there is nothing to show on a taskbar button.
    DWORD exStyle = self->title.empty() ? WS_EX_TOOLWINDOW : 0;
    self->window = ::CreateWindowExW(exStyle, kClassName, self->title.c_str(), WS_POPUP | WS_CLIPCHILDREN, at.x,
                                     at.y, size.cx, size.cy, self->parent, nullptr, instance, nullptr);
    if (!self->window) {
        ::OutputDebugStringW(L"Unable to create SplashWnd\n");
        return 0;
    }
    ::SetWindowLongPtrW(self->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    ::ShowWindow(self->window, SW_SHOWNOACTIVATE);

    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists from here on
    ::SetEvent(self->startEvent);

    int remaining = 0;
    auto stopTimer = [self] {
        if (self->timerId) ::KillTimer(nullptr, self->timerId);
        self->timerId = 0;
    };
    for (;;) {
        BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        // -1 only comes from invalid arguments and would repeat for ever.
        if (got == 0 || got == -1 || msg.message == WM_QUIT) break;
        // Thread messages have no window; a window's own messages of the same numbers are not ours.
        bool forThread = msg.hwnd == nullptr;
        if (forThread && msg.message == PBM_SETPOS) {
            stopTimer();
            ::SendMessageW(self->window, PBM_SETPOS, msg.wParam, msg.lParam);
        } else if (forThread && msg.message == PBM_SETSTEP) {
            stopTimer();  // a new animation replaces a running one instead of leaking its timer
            SplashSteps steps = UnpackSplashSteps(msg.wParam, msg.lParam);
            ::SendMessageW(self->window, PBM_SETPOS, WPARAM(steps.first), 0);
            remaining = steps.count;
            if (remaining > 0) {
                ::SendMessageW(self->progressBar, PBM_SETSTEP, WPARAM(steps.step), 0);
                self->timerId = ::SetTimer(nullptr, 0, kStepMs, nullptr);
            }
        } else if (forThread && msg.message == WM_TIMER && self->timerId && msg.wParam == self->timerId) {
            ::SendMessageW(self->progressBar, PBM_STEPIT, 0, 0);
            if (--remaining <= 0) {
                remaining = 0;
                stopTimer();
                ::Sleep(0);
            }
        } else {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

    stopTimer();
    // Captions posted after the quit request are still ours to free.
    while (::PeekMessageW(&msg, reinterpret_cast<HWND>(-1), PBM_SETPOS, PBM_SETPOS, PM_REMOVE))
        TakeCaption(msg.lParam);
    ::DestroyWindow(self->window);
    self->window = nullptr;
    self->progressBar = nullptr;
    return 0;
}

LRESULT CALLBACK SplashScreen::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<SplashScreen*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);

    switch (message) {
    case WM_PAINT:
        if (self->image) {
            Gdiplus::Graphics graphics(hwnd);
            INT width = INT(self->image->GetWidth()), height = INT(self->image->GetHeight());
            graphics.DrawImage(self->image, 0, 0, width, height);
            if (!self->caption.empty()) {
                Gdiplus::Font font(L"Tahoma", 8, Gdiplus::FontStyleItalic);
                Gdiplus::SolidBrush brush(Gdiplus::Color(0xFF000000));
                graphics.DrawString(self->caption.c_str(), -1, &font, Gdiplus::PointF(2, Gdiplus::REAL(height - 34)),
                                    &brush);
            }
        }
        ::ValidateRect(hwnd, nullptr);
        return 0;
    case PBM_SETPOS: {
        CaptionCopy text = TakeCaption(lParam);
        if (!self->progressBar) {
            RECT client{};
            ::GetClientRect(hwnd, &client);
            self->progressBar = ::CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 4,
                                                  client.bottom - 20, client.right - 8, 16, hwnd, nullptr,
                                                  ::GetModuleHandleW(nullptr), nullptr);
            ::SendMessageW(self->progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        }
        ::SendMessageW(self->progressBar, PBM_SETPOS, wParam, 0);
        if (text && *text != self->caption) {
            self->caption = *text;
            ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        }
        return 0;
    }
    default:
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
}
