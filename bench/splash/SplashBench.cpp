// The splash's Show and Hide (a thread started, its popup made and shown, the thread ended) beside
// the same popup made, shown and destroyed on the calling thread. Medians of alternating rounds.
// Needs a display. Prints figures; asserts nothing.
#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>
#include <process.h>
#include <algorithm>
#include <cstdio>
#include <vector>
#include "app/SplashScreen.h"
#include "bench/support/BenchSupport.h"

namespace {

constexpr int kWidth = 480, kHeight = 300, kRounds = 40;
constexpr wchar_t kBareClass[] = L"SplashBenchWnd";

using bench::Median;
using bench::Milliseconds;

// What the splash thread does for its window, done here: class as the splash's, same styles, place
// and size, shown without activation, the queue made, destroyed.
bool BarePopup() {
    POINT at = PlaceSplashNearCursor({kWidth, kHeight});
    HWND w = ::CreateWindowExW(0, kBareClass, L"Velmora Lumetra", WS_POPUP | WS_CLIPCHILDREN, at.x, at.y, kWidth,
                               kHeight, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!w) return false;
    ::ShowWindow(w, SW_SHOWNOACTIVATE);
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    ::DestroyWindow(w);
    return true;
}

// Where the splash's extra time goes: a thread started, its message queue made, told to quit and
// waited for, with no window.
unsigned __stdcall QueueOnly(void* started) {
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    ::SetEvent(started);
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    }
    return 0;
}

void BareThread() {
    HANDLE started = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    unsigned id = 0;
    auto thread = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, QueueOnly, started, 0, &id));
    ::WaitForSingleObject(started, 5000);
    ::PostThreadMessageW(id, WM_QUIT, 0, 0);
    ::WaitForSingleObject(thread, 9000);
    ::CloseHandle(thread);
    ::CloseHandle(started);
}

}  // namespace

int main() {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    {
        Gdiplus::Bitmap image(kWidth, kHeight, PixelFormat32bppARGB);
        WNDCLASSW wc{};
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, IDC_APPSTARTING);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = kBareClass;
        ::RegisterClassW(&wc);
        if (!BarePopup()) {
            std::printf("no window could be made (is there a display?)\n");
            return 0;
        }

        std::vector<double> splashMs, bareMs, threadMs;
        for (int round = -1; round < kRounds; ++round) {  // round -1 warms both up
            SplashScreen splash;
            splash.SetImage(&image);
            splash.SetTitle(L"Velmora Lumetra");
            double t0 = Milliseconds();
            splash.Show();
            splash.Hide();
            double t1 = Milliseconds();
            BarePopup();
            double t2 = Milliseconds();
            BareThread();
            double t3 = Milliseconds();
            if (round >= 0) {
                splashMs.push_back(t1 - t0);
                bareMs.push_back(t2 - t1);
                threadMs.push_back(t3 - t2);
            }
        }
        double splash = Median(splashMs), bare = Median(bareMs);
        std::printf("splash Show + Hide (%d rounds)        median %7.3f ms\n", kRounds, splash);
        std::printf("same popup on the calling thread       median %7.3f ms\n", bare);
        std::printf("a thread with a queue, no window       median %7.3f ms\n", Median(threadMs));
        std::printf("ratio %.2fx (goal <= 1.5x)\n", splash / bare);
    }
    Gdiplus::GdiplusShutdown(token);
    return 0;
}
